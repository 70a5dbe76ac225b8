#!/usr/bin/python3
"""Writes a course package of realistic lecture caption files for benchmarks.

The package is OUT/bench-course__2026 with an imsmanifest.xml, and the caption
files are in OUT/bench-course__2026/media/captions (printed on standard
output). Each caption file holds a WEBVTT header block, then numbered cues
whose timing lines have cue settings or not, with one or two text lines each;
some text sits in <v>, <c> or <v Name> tags or other markup, and a few words are
not ASCII. Every other file has CR LF line ends. The same seed gives the same
bytes.
"""

import argparse
import os
import random
import sys

WORDS = (
    "the a of to and in is that we this it for you on with as are be at by "
    "lecture today look next example figure slide question answer students "
    "remember important equation energy system model data function value "
    "result method process chapter section course module lesson review "
    "assignment reading problem solution approach theory practice design "
    "safety hazard procedure report measure sample analysis evidence claim "
    "because however therefore notice simply actually basically first second "
    "third finally also only every each other more most less between within"
).split()
# Non-ASCII words appear in about one line in twenty.
FOREIGN = ["café", "naïve", "Größe", "déjà vu", "São Paulo", "façade", "Zürich", "año", "λ", "π ≈ 3.14"]
SPEAKERS = ["Dr. Osei", "Maria", "Prof. Lindqvist", "Tom", "Aiko"]
SETTINGS = ["align:start position:10%", "line:85%", "position:50% align:middle", "size:80% line:0"]


def text_line(rng):
    words = rng.choices(WORDS, k=rng.randint(4, 11))
    if rng.random() < 0.05:
        words[rng.randrange(len(words))] = rng.choice(FOREIGN)
    line = " ".join(words)
    line = line[0].upper() + line[1:] + rng.choice((".", ".", ",", "?", ""))
    roll = rng.random()
    if roll < 0.15:
        return "<v>" + line + "</v>"
    if roll < 0.25:
        return "<c>" + line + "</c>"
    if roll < 0.33:
        return "<v " + rng.choice(SPEAKERS) + ">" + line + "</v>"
    if roll < 0.37:
        return "<c.yellow>" + line + "</c>"
    if roll < 0.40:
        return "<i>" + line + "</i>"
    return line


def timestamp(ms):
    # Hours wrap at 100 so that very long files keep two-digit hours.
    hours = ms // 3_600_000 % 100
    return "%02d:%02d:%02d.%03d" % (hours, ms // 60_000 % 60, ms // 1000 % 60, ms % 1000)


def write_caption_file(path, size, crlf, rng):
    """Writes cues to `path` until it holds at least `size` bytes."""
    end = "\r\n" if crlf else "\n"
    header = ["WEBVTT", "Kind: captions", "Language: en", ""]
    written = 0
    number = 1
    clock = rng.randint(0, 5000)
    with open(path, "wb") as out:
        chunk = [end.join(header) + end]
        chunk_size = len(chunk[0])
        while written + chunk_size < size:
            start = clock
            clock += rng.randint(1200, 4800)
            timing = timestamp(start) + " --> " + timestamp(clock)
            if rng.random() < 0.3:
                timing += " " + rng.choice(SETTINGS)
            lines = [str(number), timing, text_line(rng)]
            if rng.random() < 0.5:
                lines.append(text_line(rng))
            cue = end.join(lines) + end + end
            chunk.append(cue)
            chunk_size += len(cue.encode())
            number += 1
            clock += rng.randint(0, 400)
            if len(chunk) >= 4096:
                data = "".join(chunk).encode()
                out.write(data)
                written += len(data)
                chunk, chunk_size = [], 0
        out.write("".join(chunk).encode())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out", help="folder to create the course package in")
    parser.add_argument("--files", type=int, default=100, help="number of caption files (100)")
    parser.add_argument("--size", type=float, default=1.0, help="size of each file in MB (1.0)")
    parser.add_argument("--seed", type=int, default=2026, help="random seed (2026)")
    args = parser.parse_args()

    course = os.path.join(args.out, "bench-course__2026")
    captions = os.path.join(course, "media", "captions")
    os.makedirs(captions, exist_ok=True)
    with open(os.path.join(course, "imsmanifest.xml"), "w", encoding="utf-8") as manifest:
        manifest.write(
            '<?xml version="1.0" encoding="UTF-8"?>\n'
            '<manifest identifier="bench-course" version="1.0">\n'
            "  <organizations><organization identifier=\"org1\">\n"
            "    <title>Introduction to Measurement</title>\n"
            "  </organization></organizations>\n"
            "</manifest>\n")
    rng = random.Random(args.seed)
    size = int(args.size * 1_000_000)
    for index in range(args.files):
        name = "lecture%03d.vtt" % (index + 1)
        write_caption_file(os.path.join(captions, name), size, index % 2 == 1, rng)
    print(captions)


if __name__ == "__main__":
    sys.exit(main())
