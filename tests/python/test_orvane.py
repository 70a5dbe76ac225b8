"""The Python module against the command-line converter, the plain reference and wrong arguments."""

import errno
import json
import multiprocessing
import os
import pathlib
import pickle
import random
import shutil
import subprocess
import sys
import threading
import time
import xml.etree.ElementTree as ElementTree

import pytest

import orvane

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"
CONVERT = os.environ.get("ORVANE_CONVERT", str(ROOT / "build" / "orvane-convert"))
REFERENCE_CUES = os.environ.get("ORVANE_REFERENCE_CUES",
                                str(ROOT / "build" / "tests" / "oracle" / "reference-cues"))

# Option sets as keyword arguments and as command-line options.
OPTIONS = [
    ({}, []),
    ({"clean": True}, ["--clean"]),
    ({"paragraphs": True}, ["--paragraphs"]),
    ({"timestamps": True}, ["--timestamps"]),
]
FORMATS = {".vtt": "vtt", ".srt": "srt", ".sbv": "sbv"}


def cli(*args, stdin=None):
    """Runs orvane-convert; returns (exit status, stdout bytes, stderr text)."""
    done = subprocess.run([CONVERT, *args], input=stdin, capture_output=True)
    return done.returncode, done.stdout, done.stderr.decode("utf-8", "replace")


def snapshot(folder):
    """Every entry under `folder`: files by content, links by target, folders and FIFOs by kind."""
    entries = {}
    for path in sorted(pathlib.Path(folder).rglob("*")):
        name = path.relative_to(folder).as_posix()
        if path.is_symlink():
            entries[name] = ("link", os.readlink(path))
        elif path.is_dir():
            entries[name] = ("folder",)
        elif path.is_file():
            entries[name] = ("file", path.read_bytes())
        else:
            entries[name] = ("other",)
    return entries


# Caption text of the pieces the clean rules look at: voices, labels, markers,
# tags, position codes, references, repeats, bytes that are no UTF-8.
PIECES = ["so", " time", "Hello", "Hello", " ", ".", "?", "<v Ann>", "<v Bob>", "</v>", "Ann: ",
          ">> ", "<i>", "</i>", "<c.x>", "</c>", "{\\an8}", "&amp;", "&lt;", "&#65;", "\u00e9",
          "\u4f60\u597d", "<00:00:01.500>", "\xe9"]


def random_captions(rng, fmt):
    """A caption file of format `fmt` (bytes), mostly of cues, some of them repeating."""
    out = ["WEBVTT\n\n"] if fmt == "vtt" and rng.random() < 0.8 else []
    at = 0
    for number in range(rng.randrange(0, 12)):
        start, end = at, at + rng.choice([0, 40, 100, 1500, 4000])
        at = end + rng.choice([-500, 0, 0, 50, 100, 2000, 3000])
        at = max(at, 0)
        if fmt == "sbv":
            out.append(f"{start // 3600000}:{start // 60000 % 60:02}:{start // 1000 % 60:02}."
                       f"{start % 1000:03},{end // 3600000}:{end // 60000 % 60:02}:"
                       f"{end // 1000 % 60:02}.{end % 1000:03}\n")
        else:
            separator = "," if fmt == "srt" else "."
            if fmt == "srt" or rng.random() < 0.3:
                out.append(f"{number + 1}\n")
            out.append(f"{start // 3600000:02}:{start // 60000 % 60:02}:{start // 1000 % 60:02}"
                       f"{separator}{start % 1000:03} --> {end // 3600000:02}:"
                       f"{end // 60000 % 60:02}:{end // 1000 % 60:02}{separator}"
                       f"{end % 1000:03}\n")
        for _ in range(rng.randrange(0, 4)):
            out.append("".join(rng.choice(PIECES) for _ in range(rng.randrange(1, 6))) + "\n")
        out.append("\n")
    text = "".join(out)
    ending = rng.choice(["\n", "\r\n"])
    data = text.replace("\n", ending).encode("utf-8")
    # Now and then Windows-1252 text or a UTF-16 file.
    if rng.random() < 0.1:
        data = data.replace("\u00e9".encode(), b"\xe9")
    elif rng.random() < 0.05:
        data = b"\xff\xfe" + text.encode("utf-16-le")
    return data


def course_title(course):
    """The title of a course package's manifest, as a folder run heads its transcripts with."""
    manifest = ElementTree.parse(course / "imsmanifest.xml").getroot()
    return next(e.text for e in manifest.iter() if e.tag.endswith("title"))


@pytest.fixture(scope="module")
def generated(tmp_path_factory):
    """A folder of generated caption files of every format."""
    folder = tmp_path_factory.mktemp("generated")
    rng = random.Random(2026)
    for number in range(240):
        extension = [".vtt", ".srt", ".sbv"][number % 3]
        (folder / f"g{number:03}{extension}").write_bytes(
            random_captions(rng, FORMATS[extension]))
    return folder


@pytest.mark.parametrize("options,flags", OPTIONS)
def test_transcripts_are_the_command_lines(tmp_path, generated, options, flags):
    """Example course and generated files: transcript() of a file and of its bytes, convert_file()
    and convert_folder() all give the bytes orvane-convert writes."""
    for source in (EXAMPLES, generated):
        folder = tmp_path / source.name
        shutil.copytree(source, folder)
        all_formats = ["--all-formats"] if options else []
        status, _, errors = cli("-q", "-r", *flags, *all_formats, str(folder))
        assert status == 0, errors
        captions = [p for p in sorted(folder.rglob("*"))
                    if p.suffix in FORMATS and (options or p.suffix == ".vtt")]
        assert captions
        for caption in captions:
            expected = caption.with_suffix(".txt").read_bytes()
            title = None
            if "__" in caption.parents[2].name:
                title = course_title(caption.parents[2])
            by_path = orvane.transcript(caption, title=title, **options)
            assert by_path == expected, caption
            by_bytes = orvane.transcript(caption.read_bytes(), title=title,
                                         format=FORMATS[caption.suffix], **options)
            assert by_bytes == expected, caption
            target = tmp_path / "one.txt"
            orvane.convert_file(caption, target, title=title, **options)
            assert target.read_bytes() == expected, caption
        # A folder run of the module rewrites every transcript with the same bytes.
        before = snapshot(folder)
        for caption in captions:
            caption.with_suffix(".txt").write_bytes(b"old")
        outcomes = orvane.convert_folder(folder, recursive=True, all_formats=bool(options),
                                         jobs=2, **options)
        assert [o.result for o in outcomes] == ["converted"] * len(captions)
        assert snapshot(folder) == before


def test_transcript_of_content_is_the_pipes(generated):
    """A str is content (UTF-8), never a path; bytes-like objects all read alike."""
    for caption in sorted(generated.glob("*.vtt"))[:40]:
        data = caption.read_bytes()
        for options, flags in OPTIONS:
            status, expected, errors = cli(*flags, "-", stdin=data)
            assert status == 0, errors
            assert orvane.transcript(data, **options) == expected
            assert orvane.transcript(bytearray(data), **options) == expected
            assert orvane.transcript(memoryview(data), **options) == expected
            if not data.startswith(b"\xff\xfe"):
                text = data.decode("utf-8", "surrogateescape")
                assert orvane.transcript(text, **options) == expected
    path = str(generated / "g000.vtt")
    assert orvane.transcript(path) == path.encode() + b"\r\n"
    assert orvane.transcript(path, clean=True) == b""


def test_cues_are_the_references(generated):
    """cues() gives the plain reference's reading of every example and generated file."""
    files = sorted(p for p in list(EXAMPLES.rglob("*")) + list(generated.iterdir())
                   if p.suffix in FORMATS)
    for suffix, fmt in FORMATS.items():
        group = [p for p in files if p.suffix == suffix]
        lines = subprocess.run([REFERENCE_CUES, fmt, *map(str, group)], check=True,
                               capture_output=True).stdout.splitlines()
        assert len(lines) == len(group)
        for path, line in zip(group, lines):
            expected = [orvane.Cue(start / 1000, end / 1000,
                                   [orvane.Line(text, speaker) for text, speaker in cue_lines])
                        for start, end, cue_lines in json.loads(line)]
            assert orvane.cues(path) == expected, path
            assert orvane.cues(path.read_bytes(), format=fmt) == expected, path


def test_cues_of_a_meeting():
    meeting = orvane.cues(b"WEBVTT\n\n00:01.000 --> 00:02.500\nAnn: Hi <i>all</i>\nthere\n\n"
                          b"00:03.000 --> 00:04.000\n<v Bob>Hello</v>\n\n00:05.000 --> "
                          b"00:06.000\n<c></c>\n")
    assert meeting == [
        orvane.Cue(1.0, 2.5, [orvane.Line("Hi all", "Ann"), orvane.Line("there", "Ann")]),
        orvane.Cue(3.0, 4.0, [orvane.Line("Hello", "Bob")]),
        orvane.Cue(5.0, 6.0, []),
    ]


def test_wrong_arguments_raise_and_change_nothing(tmp_path):
    caption = tmp_path / "a.vtt"
    caption.write_bytes(b"WEBVTT\n\n00:01.000 --> 00:02.000\nHi\n")
    (tmp_path / "folder.vtt").mkdir()
    (tmp_path / "old.txt").write_bytes(b"old")
    os.symlink("old.txt", tmp_path / "link.txt")
    os.symlink("nowhere", tmp_path / "dangling.txt")
    os.mkfifo(tmp_path / "fifo.txt")
    missing = tmp_path / "missing.vtt"
    cases = [
        (orvane.transcript, (42,), {}, TypeError),
        (orvane.transcript, (b"",), {"clean": 1}, TypeError),
        (orvane.transcript, (b"",), {"format": "ass"}, ValueError),
        (orvane.transcript, (b"",), {"format": b"vtt"}, TypeError),
        (orvane.transcript, (b"",), {"title": b"Course"}, TypeError),
        (orvane.transcript, (missing,), {}, FileNotFoundError),
        (orvane.transcript, (tmp_path / "folder.vtt",), {}, IsADirectoryError),
        (orvane.cues, (missing,), {}, FileNotFoundError),
        (orvane.cues, (["WEBVTT"],), {}, TypeError),
        (orvane.convert_file, (missing, tmp_path / "new.txt"), {}, FileNotFoundError),
        (orvane.convert_file, (caption, tmp_path / "no" / "new.txt"), {}, FileNotFoundError),
        (orvane.convert_file, (caption, tmp_path / "old.txt" / "new.txt"), {},
         NotADirectoryError),
        (orvane.convert_file, (caption, tmp_path / "folder.vtt"), {}, IsADirectoryError),
        (orvane.convert_file, (caption, tmp_path / "link.txt"), {}, OSError),
        (orvane.convert_file, (caption, tmp_path / "dangling.txt"), {}, OSError),
        (orvane.convert_file, (caption, tmp_path / "fifo.txt"), {}, OSError),
        (orvane.convert_file, (caption, pathlib.Path("/proc/orvane.txt")), {}, OSError),
        (orvane.convert_file, (caption, pathlib.Path("/dev/full")), {}, OSError),
        (orvane.convert_file, (caption, 7), {}, TypeError),
        (orvane.convert_file, (caption, ""), {}, ValueError),
        (orvane.convert_folder, (missing,), {}, FileNotFoundError),
        (orvane.convert_folder, (caption,), {}, NotADirectoryError),
        (orvane.convert_folder, (tmp_path,), {"jobs": 0}, ValueError),
        (orvane.convert_folder, (tmp_path,), {"jobs": 2.0}, TypeError),
        (orvane.convert_folder, (tmp_path,), {"language": "not a tag!"}, ValueError),
        (orvane.convert_folder, (tmp_path,), {"recursive": "yes"}, TypeError),
    ]
    before = snapshot(tmp_path)
    for function, args, kwargs, expected in cases:
        with pytest.raises(expected) as raised:
            function(*args, **kwargs)
        if isinstance(raised.value, OSError) and args and isinstance(args[-1], pathlib.Path):
            # The path and the reason are in the message.
            assert raised.value.filename is not None and raised.value.strerror, raised.value
        assert snapshot(tmp_path) == before, (function.__name__, args, kwargs)
    # The error number tells what is wrong with a target.
    with pytest.raises(OSError) as raised:
        orvane.convert_file(caption, tmp_path / "link.txt")
    assert raised.value.errno == errno.ELOOP


def test_a_folder_of_links_gives_the_command_lines_outcomes(tmp_path):
    """Links to captions, dangling links, links at transcripts, FIFOs: the outcomes and files of
    convert_folder are those of orvane-convert on a copy."""
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    (elsewhere / "real.vtt").write_bytes(b"WEBVTT\n\n00:01.000 --> 00:02.000\nLinked\n")
    (elsewhere / "kept.txt").write_bytes(b"kept")
    for copy in ("cli", "module"):
        source = tmp_path / copy
        source.mkdir()
        (source / "good.vtt").write_bytes(b"WEBVTT\n\n00:01.000 --> 00:02.000\nGood\n")
        os.symlink(elsewhere / "real.vtt", source / "linked.vtt")
        os.symlink("gone.vtt", source / "dangling.vtt")
        (source / "written.vtt").write_bytes(b"WEBVTT\n\n00:01.000 --> 00:02.000\nNot through\n")
        os.symlink(elsewhere / "kept.txt", source / "written.txt")
        os.mkfifo(source / "fifo.vtt")
        os.symlink(elsewhere, source / "folder-link")
        (source / "sub").mkdir()
        (source / "sub" / "a.vtt").write_bytes(b"WEBVTT\n\n00:01.000 --> 00:02.000\nSub\n")
    status, _, errors = cli("-q", "-r", "-j", "1", str(tmp_path / "cli"))
    assert status != 0
    outcomes = orvane.convert_folder(tmp_path / "module", recursive=True, jobs=1)
    printed = [f"orvane-convert: {o.path}: {o.message}" for o in outcomes if not o.ok]
    assert printed == [line.replace("/cli/", "/module/") for line in errors.splitlines()]
    assert {pathlib.Path(o.path).name for o in outcomes if not o.ok} == {
        "dangling.vtt", "written.vtt", "fifo.vtt"}
    assert snapshot(tmp_path / "module") == snapshot(tmp_path / "cli")
    assert (elsewhere / "kept.txt").read_bytes() == b"kept"


def test_an_empty_folder_gives_no_outcomes(tmp_path):
    assert orvane.convert_folder(tmp_path) == []
    assert orvane.convert_folder(tmp_path, recursive=True) == []


def test_functions_go_to_other_processes():
    """Plain functions pickle by name: multiprocessing and Dask send them to workers."""
    assert pickle.loads(pickle.dumps(orvane.transcript)) is orvane.transcript
    data = [b"WEBVTT\n\n00:01.000 --> 00:02.000\n<v Ann>Hi %d\n" % n for n in range(4)]
    with multiprocessing.get_context("spawn").Pool(2) as pool:
        assert pool.map(orvane.transcript, data) == [orvane.transcript(d) for d in data]
    cue = orvane.cues(data[0])[0]
    assert pickle.loads(pickle.dumps(cue)) == cue


def test_the_package_documents_itself():
    package = pathlib.Path(orvane.__file__).parent
    for name in ("__init__.pyi", "dask.pyi", "py.typed"):
        assert (package / name).exists(), name
    for function in (orvane.transcript, orvane.convert_file, orvane.cues, orvane.convert_folder):
        assert function.__doc__ and len(function.__doc__) > 200, function.__name__
    assert "convert_folder" in orvane.__doc__


def test_threads_run_while_the_engine_converts():
    """The interpreter lock is released while converting: another thread runs meanwhile.

    With a switch interval of minutes, a thread gets the lock only when its
    holder lets it go: the counting thread, at every sleep(0); this one, only
    if the engine releases it."""
    cue = b"00:01.000 --> 00:02.000\n<v Ann>Words of a caption that the filter reads.\n\n"
    captions = b"WEBVTT\n\n" + cue * 200_000
    counted = [0]
    running = threading.Event()
    stop = threading.Event()

    def count():
        running.set()
        while not stop.is_set():
            counted[0] += 1
            time.sleep(0)

    interval = sys.getswitchinterval()
    sys.setswitchinterval(300)
    counter = threading.Thread(target=count)
    try:
        counter.start()
        assert running.wait(60)
        before = counted[0]
        orvane.transcript(captions, clean=True)
        turns = counted[0] - before
    finally:
        stop.set()
        counter.join()
        sys.setswitchinterval(interval)
    assert turns > 100
