#!/usr/bin/python3
"""Times orvane-convert against what people would otherwise use, on one folder.

The contenders convert the same caption folder in interleaved rounds (the order
rotates from round to round); each row reports the median wall time, the
throughput in MB of caption files per second, the peak resident memory of the
process and its children, whether its transcripts have the same bytes as
orvane-convert's, and its time as a multiple of orvane-convert's. Then come the
in-memory filter throughput (filter_benchmark), the memory of one very large
caption file (in its folder and piped through `orvane-convert -`) and of one
very long line, and -j 1 against -j 2 on a tree of small caption files. With
the Python module in the build (-DORVANE_BUILD_PYTHON=ON), orvane.transcript
then converts caption files held in memory beside webvtt-py on the same bytes,
and orvane.dask.convert_tree converts a tree on a local Dask cluster beside
`orvane-convert -r -j 2` (bench/python_rows.py). The targets are checked last.

With --baseline BUILD (the bench build of an earlier revision), every
orvane-convert row also runs with that build's programs in the same rounds,
each beside its twin; the large files and the tree are timed in rounds as
well, and the filter benchmarks of both builds run in turn. The comparison then
gives each row's best time with both builds and flags the rows where this
build is more than 5% slower. The Python rows run with this build only.

Needs the bench build: cmake -S . -B build-bench -DORVANE_BUILD_BENCH=ON.
"""

import argparse
import datetime
import hashlib
import json
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ left behind in bench/
import python_rows  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

# name, program and arguments before the folder, what it is
CONTENDERS = [
    ("orvane-convert", ["{build}/orvane-convert"], "this project, default jobs (one per usable processor)"),
    ("orvane-convert -j 1", ["{build}/orvane-convert", "-j", "1"], "this project, one file at a time"),
    ("orvane-convert -j 2", ["{build}/orvane-convert", "-j", "2"], "this project, two files at once"),
    ("orvane-convert --clean", ["{build}/orvane-convert", "--clean"],
     "this project, clean transcripts (a different transcript: not compared)"),
    ("orvane-convert --paragraphs --timestamps",
     ["{build}/orvane-convert", "--paragraphs", "--timestamps"],
     "this project, clean transcripts in timed paragraphs (not compared)"),
    ("orvane-convert --html", ["{build}/orvane-convert", "--html"],
     "this project, clean transcripts and a web page beside each (not compared)"),
    ("orvane-convert --clean, .srt", ["{build}/orvane-convert", "--clean", "--all-formats", "{srt}"],
     "this project, clean transcripts of the same captions as SubRip files (a twin folder)"),
    ("copy floor", ["{build}/bench/copy_floor"],
     "each .vtt copied to its .txt with read/write in 256 KiB blocks, nothing else"),
    ("std::regex + streams", ["{build}/bench/regex_reference"],
     "the rules written plainly with std::regex and std::ifstream/ofstream"),
    ("grep + sed", ["/bin/sh", HERE + "/grep_sed.sh"], "per-file pipeline, LC_ALL=C"),
    ("webvtt-py", [sys.executable, HERE + "/webvtt_py.py"], "python3-webvtt script"),
]

# Largest allowed ratio to orvane-convert for the copy floor, smallest for the others.
TARGETS = {"copy floor": 1 / 1.5, "std::regex + streams": 25, "grep + sed": 5, "webvtt-py": 100}
CLEAN = "orvane-convert --clean"
PARAGRAPHS = "orvane-convert --paragraphs --timestamps"
SUBRIP = "orvane-convert --clean, .srt"
PAGES = "orvane-convert --html"
PAGES_VS_CLEAN = 2  # largest allowed time of transcripts and pages over the clean transcripts
SUBRIP_VS_WEBVTT = 1.1  # largest allowed time of the .srt twin over the .vtt folder, clean
PARAGRAPHS_VS_CLEAN = 1.2  # largest allowed time of timed paragraphs over the clean lines
PARAGRAPH_FILTER_TARGET = 0.8e9  # bytes per second
JOBS_SPEEDUP = 1.5  # smallest allowed speed-up of -j 2 over -j 1 on the folder
CLEAN_VS_DEFAULT = 1.5  # largest allowed time of the clean style over the default one
CLEAN_VS_WEBVTT = 40    # smallest allowed speed-up of the clean style over webvtt-py
CLEAN_FILTER_TARGET = 500e6  # bytes per second
FILTER_TARGET = 1e9  # bytes per second
BIG_FILE_RSS_TARGET = 64 << 20
PYTHON_VS_WEBVTT = 100  # smallest allowed speed-up of orvane.transcript over webvtt-py, in memory
DASK_VS_CONVERT = 1.5  # largest allowed time of orvane.dask.convert_tree over orvane-convert -r -j 2
BASELINE_SLOWER = 1.05  # largest time over the baseline's before a row is flagged
FILTER_PROGRAMS = ("filter_benchmark", "clean_filter_benchmark")


def run_measured(argv):
    """Runs argv to completion; returns (wall seconds, CPU seconds, peak RSS bytes)."""
    # GNU time reports the largest resident set of the child and of every
    # descendant it waited for, so a shell pipeline counts its biggest stage.
    # (Measuring with wait4 from here would count this Python process too:
    # Linux keeps a forked child's memory high-water mark across exec.)
    with tempfile.NamedTemporaryFile("r") as report, tempfile.TemporaryFile() as errors:
        start = time.perf_counter()
        child = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", report.name] + argv,
                                 stdout=subprocess.DEVNULL, stderr=errors)
        # User and system time of time's child and of everything that it waited for.
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
        child.returncode = os.waitstatus_to_exitcode(status)
        if child.returncode != 0:
            errors.seek(0)
            sys.exit("%s failed with status %d:\n%s" % (" ".join(argv), child.returncode,
                                                        errors.read().decode(errors="replace")))
        return wall, usage.ru_utime + usage.ru_stime, int(report.read().split()[-1]) * 1024


def transcripts(folder):
    """Maps each transcript name in `folder` to the SHA-256 of its bytes."""
    digests = {}
    for name in sorted(os.listdir(folder)):
        if name.endswith(".txt"):
            with open(os.path.join(folder, name), "rb") as text:
                digests[name] = hashlib.sha256(text.read()).hexdigest()
    return digests


def caption_bytes(folder):
    return sum(os.path.getsize(os.path.join(folder, name))
               for name in os.listdir(folder) if name.endswith(".vtt"))


def generate(out, files, size_mb, seed=2026):
    result = subprocess.run([sys.executable, HERE + "/make_captions.py", out, "--files", str(files),
                             "--size", str(size_mb), "--seed", str(seed)],
                            check=True, stdout=subprocess.PIPE, text=True)
    return result.stdout.strip()


def version(argv, pattern=r"(\d+(?:\.\d+)+)"):
    try:
        text = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True).stdout
    except OSError:
        return "?"
    match = re.search(pattern, text)
    return match.group(1) if match else "?"


def peer_versions():
    return {
        "g++": version(["g++", "--version"]),
        "GNU grep": version(["grep", "--version"]),
        "GNU sed": version(["sed", "--version"]),
        "python3": platform.python_version(),
        "python3-webvtt": version(["dpkg-query", "-W", "-f=${Version}", "python3-webvtt"],
                                  r"(\S+)"),
    }


def machine():
    cpu = "?"
    try:
        with open("/proc/cpuinfo") as info:
            cpu = next(line.split(":", 1)[1].strip() for line in info if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    distro = "?"
    try:
        with open("/etc/os-release") as release:
            distro = next(line.split("=", 1)[1].strip().strip('"')
                          for line in release if line.startswith("PRETTY_NAME="))
    except (OSError, StopIteration):
        pass
    return "%d cores (%s), %s" % (os.cpu_count(), cpu, distro)


def subrip_twin(folder):
    """Writes beside `folder` a folder of the same captions as SubRip files: no
    header, numbered cues, ',' before the milliseconds. Returns its path."""
    twin = folder.rstrip("/") + "-srt"
    os.makedirs(twin, exist_ok=True)
    timing = re.compile(rb"^(\d\d:\d\d:\d\d)\.(\d\d\d) --> (\d\d:\d\d:\d\d)\.(\d\d\d)")
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".vtt"):
            continue
        with open(os.path.join(folder, name), "rb") as caption:
            blocks = caption.read().split(b"\n\n")
        cues = []
        for block in blocks:
            lines = block.split(b"\n")
            for at, line in enumerate(lines):
                match = timing.match(line)
                if match:
                    lines = [b"%d" % (len(cues) + 1), b"%s,%s --> %s,%s" % match.groups()] + lines[at + 1:]
                    cues.append(b"\n".join(lines))
                    break
        with open(os.path.join(twin, name[:-4] + ".srt"), "wb") as out:
            out.write(b"\n\n".join(cues) + b"\n")
    return twin


def compare(build, folder, rounds, baseline=None):
    """Times every contender on `folder`; returns the rows of the table.

    With a baseline build, each orvane-convert row has a twin run with the
    baseline's programs, beside it in every round (first on odd rounds); the
    twins' rows come back with "baseline" set.
    """
    total = caption_bytes(folder)
    srt = subrip_twin(folder)
    groups = []
    for name, argv, what in CONTENDERS:
        # The folder last, unless the contender names its own.
        tail = [] if "{srt}" in argv else [folder]
        group = [(name, [part.format(build=build, srt=srt) for part in argv] + tail, what, False)]
        # Builds from before paragraphs do not take their options.
        if baseline and name.startswith("orvane-convert") and name not in (PARAGRAPHS, SUBRIP, PAGES):
            group.append((name, [part.format(build=baseline, srt=srt) for part in argv] + tail, what,
                          True))
        groups.append(group)
    programs = [program for group in groups for program in group]
    # One untimed run fills the page cache and gives the reference transcripts.
    if baseline:
        run_measured(groups[0][1][1])
    run_measured(programs[0][1])
    reference = transcripts(folder)
    samples = {(name, old): [] for name, _, _, old in programs}
    cpu = {(name, old): [] for name, _, _, old in programs}
    peaks = {(name, old): 0 for name, _, _, old in programs}
    same = {}
    for round_index in range(rounds):
        shift = round_index % len(groups)
        for group in groups[shift:] + groups[:shift]:
            for name, argv, _, old in (group if round_index % 2 == 0 else group[::-1]):
                key = (name, old)
                wall, cpu_seconds, rss = run_measured(argv)
                samples[key].append(wall)
                cpu[key].append(cpu_seconds)
                peaks[key] = max(peaks[key], rss)
                if name == "copy floor":
                    same[key] = "(a copy)"
                elif name == CLEAN:
                    same[key] = "(clean)"
                elif name == PARAGRAPHS:
                    same[key] = "(paragraphs)"
                elif name == SUBRIP:
                    same[key] = "(SubRip)"
                elif name == PAGES:
                    same[key] = "(pages)"
                elif key not in same or name.startswith("orvane-convert -j"):
                    produced = transcripts(folder)
                    differing = sum(1 for file, digest in reference.items() if produced.get(file) != digest)
                    same[key] = "yes" if differing == 0 else "no (%d of %d)" % (differing, len(reference))
        print("  round %d of %d done" % (round_index + 1, rounds), file=sys.stderr)
    run_measured(programs[0][1])  # leave orvane-convert's transcripts behind
    base = statistics.median(samples[(programs[0][0], False)])
    rows = []
    for name, _, what, old in programs:
        key = (name, old)
        wall = statistics.median(samples[key])
        rows.append({"name": name, "what": what, "seconds": wall, "mb_per_s": total / 1e6 / wall,
                     "cpu": statistics.median(cpu[key]),
                     "rss": peaks[key], "same": same[key], "ratio": wall / base,
                     "samples": samples[key], "baseline": old})
    return rows, total


def benchmark_rates(build, program, min_time):
    """Runs one Google Benchmark program; returns {benchmark name: bytes per second}."""
    result = subprocess.run([build + "/bench/" + program, "--benchmark_format=json",
                             "--benchmark_min_time=%g" % min_time],
                            check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            text=True)
    return {bench["name"]: bench["bytes_per_second"] for bench in json.loads(result.stdout)["benchmarks"]}


def filter_throughput(builds, min_time, rounds=1):
    """Runs both filter benchmarks of each build in turn, `rounds` times;
    returns {build: {benchmark name: best bytes per second}}."""
    best = {build: {} for build in builds}
    for round_index in range(rounds):
        order = builds if round_index % 2 == 0 else builds[::-1]
        for program in FILTER_PROGRAMS:
            for build in order:
                for name, rate in benchmark_rates(build, program, min_time).items():
                    best[build][name] = max(best[build].get(name, 0), rate)
    return best


def memory_checks(builds, work, big_mb, line_mb, rounds=1):
    """Converts one big caption file, in its folder and through a pipe, then one
    file of a single long line, with each build in turn, `rounds` times;
    returns [(label, bytes, {build: [wall s]}, {build: peak RSS})]."""
    results = []

    def measure(label, size, argv_of):
        walls = {build: [] for build in builds}
        peaks = {build: 0 for build in builds}
        for round_index in range(rounds):
            for build in (builds if round_index % 2 == 0 else builds[::-1]):
                wall, _, rss = run_measured(argv_of(build))
                walls[build].append(wall)
                peaks[build] = max(peaks[build], rss)
        results.append((label, size, walls, peaks))

    big = generate(os.path.join(work, "big"), 1, big_mb, seed=7)
    measure("one %g MB caption file" % big_mb, caption_bytes(big),
            lambda build: [build + "/orvane-convert", big])
    measure("the same through a pipe", caption_bytes(big),
            lambda build: ["/bin/sh", "-c", "cat %s/*.vtt | %s/orvane-convert - >/dev/null" % (big, build)])
    shutil.rmtree(os.path.join(work, "big"))
    long_line = os.path.join(work, "long", "line")
    os.makedirs(long_line, exist_ok=True)
    with open(os.path.join(long_line, "line.vtt"), "wb") as caption:
        caption.write(b"WEBVTT\n\n1\n00:00:00.000 --> 00:00:05.000\n")
        caption.write(b"<v>" + b"word " * (line_mb * 1_000_000 // 5) + b"</v>\n")
    measure("one %d MB line" % line_mb, caption_bytes(long_line),
            lambda build: [build + "/orvane-convert", long_line])
    shutil.rmtree(os.path.join(work, "long"))
    return results


def tree_timing(builds, work, files, rounds):
    """Times -r -j 1 and -r -j 2 of each build on a tree of small caption files;
    returns {(build, jobs): [wall s]}."""
    root = os.path.join(work, "tree")
    per_folder = 100
    for index in range(files):
        folder = os.path.join(root, "course__%d" % (index // (per_folder * 10)), "media",
                              "part%d" % (index // per_folder % 10))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "c%d.vtt" % index), "wb") as caption:
            caption.write(b"WEBVTT\n\n1\n00:00:01.000 --> 00:00:02.000\n<v>Line %d</v>\n" % index)
    argv = {(build, jobs): [build + "/orvane-convert", "-q", "-r", "-j", str(jobs), root]
            for build in builds for jobs in (1, 2)}
    for build in builds[::-1]:
        run_measured(argv[(build, 1)])  # fills the caches
    samples = {key: [] for key in argv}
    for round_index in range(rounds):
        for jobs in (1, 2):
            for build in (builds if round_index % 2 == 0 else builds[::-1]):
                samples[(build, jobs)].append(run_measured(argv[(build, jobs)])[0])
    shutil.rmtree(root)
    return samples


def megabytes(count):
    return "%.1f MB" % (count / (1 << 20))


def print_table(rows, total, files):
    print("\n%d caption files, %.1f MB in all; median of each row's rounds (CPU s: user + system"
          " time of the process and its children)\n" % (files, total / 1e6))
    print("| Converter | Wall s | MB/s | CPU s | Peak RSS | Same bytes | Time vs orvane-convert |")
    print("|---|---:|---:|---:|---:|---|---:|")
    for row in rows:
        print("| %s | %.3f | %.0f | %.3f | %s | %s | %s |" % (
            row["name"], row["seconds"], row["mb_per_s"], row["cpu"], megabytes(row["rss"]), row["same"],
            "%.2f×" % row["ratio"] if row["ratio"] < 10 else "%.0f×" % row["ratio"]))
    print()
    for row in rows:
        print("- %s: %s" % (row["name"], row["what"]))


def print_python_rows(memory, tree):
    """Prints the figures of python_rows.in_memory and python_rows.on_dask."""
    if memory is not None:
        print("\norvane.transcript on caption files held in memory, one process:")
        if "skipped" in memory:
            print("  skipped: %s" % memory["skipped"])
        else:
            print("%d caption files, %.1f MB in all; orvane.transcript best of %d rounds, webvtt-py one"
                  " run over the same bytes (CPU s: this process)\n"
                  % (memory["files"], memory["bytes"] / 1e6, memory["rounds"]))
            print("| Run | Wall s | MB/s | CPU s | Time vs orvane.transcript |")
            print("|---|---:|---:|---:|---:|")
            base = memory["default"][0]
            for label, (wall, cpu) in (("orvane.transcript", memory["default"]),
                                       ("orvane.transcript, clean=True", memory["clean"]),
                                       ("webvtt-py, read_buffer", memory["webvtt"])):
                print("| %s | %.3f | %.0f | %.3f | %s |" % (
                    label, wall, memory["bytes"] / 1e6 / wall, cpu,
                    "%.2f×" % (wall / base) if wall / base < 10 else "%.0f×" % (wall / base)))
            print("\norvane.transcript's transcripts, headed by the course title, the same bytes as"
                  " orvane-convert's: %s" % memory["same"])
    if tree is not None:
        print("\norvane.dask.convert_tree on a LocalCluster (%d worker processes of one thread,"
              " started beforehand) against orvane-convert -r -j 2:" % python_rows.DASK_WORKERS)
        if "skipped" in tree:
            print("  skipped: %s" % tree["skipped"])
        else:
            print("a tree of %d caption files in %d folder%s, %.1f MB in all; best of %d interleaved"
                  " runs each, the disk synced before each run (CPU s: user + system time of"
                  " orvane-convert, or of the workers, scheduler and client)\n"
                  % (tree["files"], tree["folders"], "" if tree["folders"] == 1 else "s",
                     tree["bytes"] / 1e6, tree["rounds"]))
            print("| Run | Wall s | MB/s | CPU s | Same bytes | Time vs orvane-convert -r -j 2 |")
            print("|---|---:|---:|---:|---|---:|")
            base = tree["convert"][0]
            for label, (wall, cpu), same in (("orvane-convert -r -j 2", tree["convert"], "yes"),
                                             ("orvane.dask.convert_tree", tree["dask"], tree["same"])):
                print("| %s | %.3f | %.0f | %.3f | %s | %.2f× |" % (
                    label, wall, tree["bytes"] / 1e6 / wall, cpu, same, wall / base))


def python_targets(memory, tree):
    """The target lines of the Python rows: (label, figure, met), met None when skipped."""
    lines = []
    label = "orvane.transcript in memory at least %g× faster than webvtt-py" % PYTHON_VS_WEBVTT
    if memory is not None and "skipped" in memory:
        lines.append((label, "skipped", None))
    elif memory is not None:
        speedup = memory["webvtt"][0] / memory["default"][0]
        lines.append((label, "%.0f×" % speedup, speedup >= PYTHON_VS_WEBVTT))
    label = "orvane.dask.convert_tree within %g× of orvane-convert -r -j 2" % DASK_VS_CONVERT
    if tree is not None and "skipped" in tree:
        lines.append((label, "skipped", None))
    elif tree is not None:
        ratio = tree["dask"][0] / tree["convert"][0]
        lines.append((label, "%.2f×" % ratio, ratio <= DASK_VS_CONVERT))
        lines.append(("orvane.dask.convert_tree writes orvane-convert's transcripts", tree["same"],
                      tree["same"] == "yes"))
    return lines


def check_targets(rows, throughput, memory, tree, python_lines=()):
    by_name = {row["name"]: row for row in rows}
    lines = []
    one, two = by_name["orvane-convert -j 1"], by_name["orvane-convert -j 2"]
    speedup = one["seconds"] / two["seconds"]
    lines.append(("-j 2 at least %g× faster than -j 1" % JOBS_SPEEDUP, "%.2f×" % speedup,
                  speedup >= JOBS_SPEEDUP))
    floor = by_name["copy floor"]["seconds"]
    lines.append(("-j 2 at or below the copy floor", "%.2f× its time" % (two["seconds"] / floor),
                  two["seconds"] <= floor))
    webvtt = by_name["webvtt-py"]["seconds"] / two["seconds"]
    lines.append(("-j 2 at least 100× faster than webvtt-py", "%.1f×" % webvtt, webvtt >= 100))
    for one_s, two_s, files in tree:
        lines.append(("-j 2 faster than -j 1 on a tree of %d small files" % files,
                      "%.2f s vs %.2f s" % (two_s, one_s), two_s < one_s))
    for name, bound in TARGETS.items():
        ratio = by_name[name]["ratio"]
        if bound < 1:
            lines.append(("end to end within 1.5× of the copy floor",
                          "%.2f×" % (1 / ratio), ratio >= bound))
        else:
            lines.append(("at least %g× faster than %s" % (bound, name), "%.1f×" % ratio, ratio >= bound))
    if CLEAN in by_name:
        clean = by_name[CLEAN]["ratio"]
        lines.append(("clean style at most %g× the default style's time" % CLEAN_VS_DEFAULT,
                      "%.2f×" % clean, clean <= CLEAN_VS_DEFAULT))
        speedup = by_name["webvtt-py"]["ratio"] / clean
        lines.append(("clean style at least %g× faster than webvtt-py" % CLEAN_VS_WEBVTT,
                      "%.1f×" % speedup, speedup >= CLEAN_VS_WEBVTT))
    if PARAGRAPHS in by_name and CLEAN in by_name:
        ratio = by_name[PARAGRAPHS]["seconds"] / by_name[CLEAN]["seconds"]
        lines.append(("timed paragraphs at most %g× the clean lines' time" % PARAGRAPHS_VS_CLEAN,
                      "%.2f×" % ratio, ratio <= PARAGRAPHS_VS_CLEAN))
    if PAGES in by_name and CLEAN in by_name:
        ratio = by_name[PAGES]["seconds"] / by_name[CLEAN]["seconds"]
        lines.append(("transcripts and pages at most %g× the clean transcripts' time" % PAGES_VS_CLEAN,
                      "%.2f×" % ratio, ratio <= PAGES_VS_CLEAN))
    if SUBRIP in by_name and CLEAN in by_name:
        ratio = by_name[SUBRIP]["seconds"] / by_name[CLEAN]["seconds"]
        lines.append(("the same captions as .srt at most %g× the clean .vtt time" % SUBRIP_VS_WEBVTT,
                      "%.2f×" % ratio, ratio <= SUBRIP_VS_WEBVTT))
    paragraph_rates = [rate for name, rate in throughput.items() if name.startswith("BM_ParagraphWriter")]
    if paragraph_rates:
        lines.append(("in-memory paragraph writer at 0.8 GB/s or more of captions (lecture and auto-captions)",
                      "%.2f GB/s" % (min(paragraph_rates) / 1e9),
                      min(paragraph_rates) >= PARAGRAPH_FILTER_TARGET))
    clean_rates = [rate for name, rate in throughput.items() if name.startswith("BM_Clean")]
    if clean_rates:
        lines.append(("in-memory clean filter at 500 MB/s or more (slowest case)",
                      "%.0f MB/s" % (min(clean_rates) / 1e6), min(clean_rates) >= CLEAN_FILTER_TARGET))
    blocks = [rate for name, rate in throughput.items()
              if "Blocks" in name and not name.startswith(("BM_Clean", "BM_Paragraph"))]
    if blocks:
        # The filter as a conversion drives it. FilterCaptions also builds a
        # fresh multi-megabyte string per call, which measures page faults.
        lines.append(("in-memory filter at 1 GB/s or more (fed in blocks, slower of LF and CR LF)",
                      "%.2f GB/s" % (min(blocks) / 1e9), min(blocks) >= FILTER_TARGET))
    for label, _, _, rss in memory[:2]:
        lines.append(("%s converted in under 64 MB" % label, megabytes(rss), rss < BIG_FILE_RSS_TARGET))
    lines += python_lines
    print("\nTargets:")
    for label, figure, met in lines:
        print("  [%s] %s: %s" % ("skipped" if met is None else "met" if met else "MISSED", label, figure))
    return all(met is not False for _, _, met in lines)


def slowest_clean_case(rates):
    """The slowest case of the clean filter fed in blocks: (name, bytes per second)."""
    return min(((name, rate) for name, rate in rates.items() if name.startswith("BM_Clean")),
               key=lambda case: case[1])


def print_comparison(baseline, rounds, pairs, same, rates, old_rates):
    """Prints each row's best time with this build and with the baseline, and the
    filter cases of both; flags what is more than 5% slower with this build.

    pairs: [(row, this build's wall times, the baseline's wall times)];
    same: [(folder row, whether the baseline wrote this build's transcripts)]."""
    print("\nAgainst the baseline %s, best of %d runs of each:\n" % (baseline, rounds))
    print("| Row | This build s | Baseline s | This / baseline |")
    print("|---|---:|---:|---:|")
    slower = []
    for label, new, old in pairs:
        ratio = min(new) / min(old)
        flag = ""
        if ratio > BASELINE_SLOWER:
            slower.append(label)
            flag = " (slower)"
        print("| %s | %.3f | %.3f | %.3f%s |" % (label, min(new), min(old), ratio, flag))
    print("\nThe baseline's transcripts the same bytes as this build's: "
          + ", ".join("%s %s" % item for item in same))
    if rates:
        print("\nIn-memory filters, one core, best of %d runs of each:\n" % rounds)
        print("| Case | This build GB/s | Baseline GB/s | This / baseline time |")
        print("|---|---:|---:|---:|")
        for name, rate in rates.items():
            if name in old_rates:
                ratio = old_rates[name] / rate
                flag = " (slower)" if ratio > BASELINE_SLOWER else ""
                print("| %s | %.2f | %.2f | %.3f%s |"
                      % (name, rate / 1e9, old_rates[name] / 1e9, ratio, flag))
    print("\nRows more than %.0f%% slower than the baseline: %s"
          % ((BASELINE_SLOWER - 1) * 100, ", ".join(slower) if slower else "none"))
    if rates:
        new_name, new_rate = slowest_clean_case(rates)
        old_name, old_rate = slowest_clean_case(old_rates)
        print("In-memory clean filter, slowest case: this build %.0f MB/s (%s), baseline %.0f MB/s (%s): %s"
              % (new_rate / 1e6, new_name, old_rate / 1e6, old_name,
                 "no slower" if new_rate >= old_rate else "SLOWER"))
    return not slower


def write_chart(path, rows):
    """Writes a horizontal bar chart of throughput (log scale) as SVG."""
    import math
    width, left, bar, gap, top = 760, 190, 26, 12, 46
    height = top + len(rows) * (bar + gap) + 40
    best = max(row["mb_per_s"] for row in rows)
    low = 10 ** math.floor(math.log10(min(row["mb_per_s"] for row in rows)))
    high = 10 ** math.ceil(math.log10(best))
    span = width - left - 90

    def x(value):
        return left + span * (math.log10(value) - math.log10(low)) / (math.log10(high) - math.log10(low))

    parts = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" '
             'font-family="sans-serif" font-size="13">' % (width, height),
             '<rect width="100%" height="100%" fill="white"/>',
             '<text x="%d" y="24" font-size="15" font-weight="bold">'
             'Caption folder to transcripts: MB/s (log scale, higher is better)</text>' % left]
    decade = low
    while decade <= high:
        parts.append('<line x1="%.1f" y1="%d" x2="%.1f" y2="%d" stroke="#ddd"/>'
                     % (x(decade), top - 6, x(decade), height - 30))
        parts.append('<text x="%.1f" y="%d" text-anchor="middle" fill="#555">%g</text>'
                     % (x(decade), height - 12, decade))
        decade *= 10
    for index, row in enumerate(rows):
        y = top + index * (bar + gap)
        colour = ("#2b6cb0" if row["name"].startswith("orvane-convert")
                  else "#999" if row["name"] == "copy floor" else "#c05621")
        parts.append('<text x="%d" y="%d" text-anchor="end">%s</text>'
                     % (left - 10, y + bar * 0.7, row["name"].replace("&", "&amp;").replace("<", "&lt;")))
        parts.append('<rect x="%d" y="%d" width="%.1f" height="%d" fill="%s"/>'
                     % (left, y, max(1.0, x(row["mb_per_s"]) - left), bar, colour))
        parts.append('<text x="%.1f" y="%d">%.0f MB/s</text>'
                     % (x(row["mb_per_s"]) + 6, y + bar * 0.7, row["mb_per_s"]))
    parts.append("</svg>\n")
    with open(path, "w") as chart:
        chart.write("\n".join(parts))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build-bench"),
                        help="bench build folder (build-bench)")
    parser.add_argument("--folder", help="caption folder to use instead of generating one")
    parser.add_argument("--work", help="where to generate data (a temporary folder)")
    parser.add_argument("--files", type=int, default=100, help="generated files (100)")
    parser.add_argument("--size", type=float, default=1.0, help="MB per generated file (1)")
    parser.add_argument("--rounds", type=int, default=5, help="rounds per contender (5)")
    parser.add_argument("--big-mb", type=float, default=1000, help="size of the big file (1000 MB)")
    parser.add_argument("--line-mb", type=int, default=64, help="length of the long line (64 MB)")
    parser.add_argument("--tree-files", type=int, default=10000,
                        help="small files in the tree timed with -j 1 and -j 2 (10000; 0 skips)")
    parser.add_argument("--python-mb", type=float,
                        help="MB of caption files held in memory for orvane.transcript and webvtt-py"
                             " (default: --files × --size, 100; 0 skips)")
    parser.add_argument("--dask-mb", type=float,
                        help="MB of the tree converted on Dask and by orvane-convert -r -j 2"
                             " (default: --big-mb, 1000; 0 skips)")
    parser.add_argument("--dask-files", type=int,
                        help="caption files in that tree, 100 a folder (default: 10 a MB of --dask-mb,"
                             " 10000; 0 skips)")
    parser.add_argument("--skip-memory", action="store_true", help="skip the big file and long line")
    parser.add_argument("--skip-filter", action="store_true", help="skip filter_benchmark")
    parser.add_argument("--filter-time", type=float, default=1.0,
                        help="seconds per filter_benchmark case (1)")
    parser.add_argument("--chart", help="also write the throughput chart to this SVG file")
    parser.add_argument("--baseline", metavar="BUILD",
                        help="bench build of an earlier revision to time beside this one")
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    baseline = os.path.abspath(args.baseline) if args.baseline else None
    for where, programs in ((build, ("orvane-convert", "bench/copy_floor", "bench/regex_reference",
                                      "bench/filter_benchmark", "bench/clean_filter_benchmark")),
                             (baseline, ("orvane-convert", "bench/filter_benchmark",
                                         "bench/clean_filter_benchmark"))):
        for program in programs if where else ():
            if not os.access(os.path.join(where, program), os.X_OK):
                sys.exit("%s/%s is missing: cmake -S %s -B %s -DORVANE_BUILD_BENCH=ON && cmake --build %s"
                         % (where, program, ROOT, where, where))
    if baseline == build:
        sys.exit("--baseline names the build being measured: give the bench build of another revision")
    builds = [build, baseline] if baseline else [build]
    # Without a baseline the large files and the filters run once, as a check.
    extra_rounds = args.rounds if baseline else 1
    try:
        import webvtt  # noqa: F401  (the webvtt-py row runs with this interpreter)
    except ImportError:
        sys.exit("webvtt-py is missing: apt-get install python3-webvtt, and run this with /usr/bin/python3")

    with tempfile.TemporaryDirectory(prefix="orvane-bench-", dir=args.work) as work:
        folder = args.folder or generate(work, args.files, args.size)
        files = sum(1 for name in os.listdir(folder) if name.endswith(".vtt"))
        print("%s UTC, %s, load average %s" % (
            datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M"), machine(),
            " ".join("%.2f" % load for load in os.getloadavg())))
        print("Peers: " + ", ".join("%s %s" % item for item in peer_versions().items()))
        all_rows, total = compare(build, folder, args.rounds, baseline)
        rows = [row for row in all_rows if not row["baseline"]]
        print_table(rows, total, files)
        rates = {} if args.skip_filter else filter_throughput(builds, args.filter_time, extra_rounds)
        throughput = rates.get(build, {})
        if throughput:
            print("\nIn-memory filter, one core (filter_benchmark):")
            for name, rate in throughput.items():
                print("  %-32s %.2f GB/s" % (name, rate / 1e9))
        measured = [] if args.skip_memory else memory_checks(builds, work, args.big_mb, args.line_mb,
                                                             extra_rounds)
        memory = [(label, size, statistics.median(walls[build]), peaks[build])
                  for label, size, walls, peaks in measured]
        if memory:
            print("\norvane-convert on single large files%s:"
                  % (" (median of %d runs)" % extra_rounds if extra_rounds > 1 else ""))
            for label, size, wall, rss in memory:
                print("  %-26s %.2f s, %.0f MB/s, peak RSS %s" % (label, wall, size / 1e6 / wall,
                                                                 megabytes(rss)))
        tree_samples, tree = {}, []
        if args.tree_files > 0:
            tree_samples = tree_timing(builds, work, args.tree_files, args.rounds)
            tree.append((statistics.median(tree_samples[(build, 1)]),
                         statistics.median(tree_samples[(build, 2)]), args.tree_files))
        for one_s, two_s, count in tree:
            print("\nA tree of %d small caption files, -r: -j 1 %.3f s, -j 2 %.3f s (%.2f×)"
                  % (count, one_s, two_s, one_s / two_s))
        python_mb = args.files * args.size if args.python_mb is None else args.python_mb
        in_memory = python_rows.in_memory(build, work, python_mb, args.rounds) if python_mb > 0 else None
        dask_mb = args.big_mb if args.dask_mb is None else args.dask_mb
        dask_files = max(1, round(dask_mb * 10)) if args.dask_files is None else args.dask_files
        on_dask = (python_rows.on_dask(build, work, dask_files, dask_mb,
                                       min(args.rounds, python_rows.DASK_ROUNDS), run_measured)
                   if dask_mb > 0 and dask_files > 0 else None)
        print_python_rows(in_memory, on_dask)
        check_targets(rows, throughput, memory, tree, python_targets(in_memory, on_dask))
        if baseline:
            pairs = [(row["name"], row["samples"], old["samples"])
                     for row in rows for old in all_rows if old["baseline"] and old["name"] == row["name"]]
            pairs += [(label, walls[build], walls[baseline]) for label, _, walls, _ in measured]
            if tree:
                pairs.append(("a tree of %d small files, -r -j 1" % args.tree_files,
                              tree_samples[(build, 1)], tree_samples[(baseline, 1)]))
                pairs.append(("the same tree, -r -j 2",
                              tree_samples[(build, 2)], tree_samples[(baseline, 2)]))
            same = [(row["name"], row["same"]) for row in all_rows if row["baseline"]]
            print_comparison(baseline, args.rounds, pairs, same, throughput, rates.get(baseline, {}))
        print("Load average after the run: %s" % " ".join("%.2f" % load for load in os.getloadavg()))
        if args.chart:
            write_chart(args.chart, rows)
            print("Chart written to %s" % args.chart)
        reference = next(row for row in rows if row["name"] == "std::regex + streams")
        if reference["same"] != "yes":
            sys.exit("error: the std::regex reference and orvane-convert wrote different transcripts")


if __name__ == "__main__":
    main()
