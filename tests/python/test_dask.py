"""orvane.dask on a local cluster of two worker processes: the files and messages of
orvane-convert on the same trees, transcripts that stay whole when a worker dies, and bags."""

import logging
import os
import pathlib
import random
import re
import signal
import stat
import subprocess
import threading
import time

import pytest

distributed = pytest.importorskip("distributed")
import dask  # noqa: E402  (after the skip: dask comes with distributed)
import dask.bag  # noqa: E402

import orvane  # noqa: E402
import orvane.dask  # noqa: E402

# Tornado under distributed 2022.12, and a second cluster's HTTP server finding port 8787 taken.
pytestmark = [pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning"),
              pytest.mark.filterwarnings("ignore:Port 8787 is already in use:UserWarning")]

ROOT = pathlib.Path(__file__).resolve().parents[2]
CONVERT = os.environ.get("ORVANE_CONVERT", str(ROOT / "build" / "orvane-convert"))
WORKERS = 2
# Every wait gives up after this long, with a message telling what never happened.
PATIENCE = 120.0
TITLE_MANIFEST = (b"<?xml version=\"1.0\"?>\n<manifest><organizations><organization>"
                  b"<title>Fire &amp; Safety</title></organization></organizations></manifest>\n")
# What a transcript's temporary file is named while it is written (platform/posix.cpp).
TEMPORARY = re.compile(r"\.orvane-[0-9a-f]{12}\.tmp")


def wait_for(condition, what, timeout=PATIENCE):
    """Polls `condition` until it is true; fails telling `what` never happened."""
    deadline = time.monotonic() + timeout
    delay = 0.001
    while not condition():
        if time.monotonic() > deadline:
            pytest.fail(f"waited {timeout:.0f} s for {what}")
        time.sleep(delay)
        delay = min(delay * 2, 0.05)


@pytest.fixture(scope="module")
def client():
    """A client of a cluster of two single-threaded worker processes, each under a nanny that
    starts it again when it dies. Its logs (workers dying, restarts) are silenced: the workers'
    by the cluster, this process's here, where pytest would otherwise keep them."""
    loggers = [logging.getLogger(name) for name in list(logging.root.manager.loggerDict)
               if name.split(".")[0] in ("distributed", "tornado")] + [
        logging.getLogger("distributed")]
    levels = [logger.level for logger in loggers]
    # A LocalCluster closes a worker's nanny for good when no worker of that worker's name is
    # back 15 s after it was lost: a worker killed by one test and restarted by the next, under
    # load, would then be gone for the rest of the module. Nannies here always start theirs again.
    with dask.config.set({"distributed.deploy.lost-worker-timeout": "1h"}):
        cluster = distributed.LocalCluster(n_workers=WORKERS, threads_per_worker=1,
                                           processes=True, dashboard_address=None,
                                           silence_logs=logging.CRITICAL)
        for logger in loggers:
            logger.setLevel(logging.CRITICAL)
        client = distributed.Client(cluster)
        try:
            yield client
        finally:
            client.close()
            cluster.close()
            for logger, level in zip(loggers, levels):
                logger.setLevel(level)


def worker_pids(client):
    """{address: process id} of the workers that answer."""
    answers = client.run(os.getpid, on_error="return")
    return {address: pid for address, pid in answers.items() if isinstance(pid, int)}


def ready(client):
    """Waits until the cluster has its two workers again and runs tasks; returns their pids."""
    client.wait_for_workers(WORKERS, timeout=PATIENCE)
    wait_for(lambda: len(worker_pids(client)) == WORKERS, "two workers answering")
    assert client.submit(sum, [1, 2], pure=False).result(timeout=PATIENCE) == 3
    return worker_pids(client)


# Caption generator: cues with voices, text labels, markers, tags, references, timestamps
# inside cues, notes, rolling captions that repeat the line before and whole repeated cues.
WORDS = ("fire exit alarm stairs smoke door drill safety team floor check call the a to "
         "is we now left right caf\u00e9 na\u00efve \u4f60\u597d").split()
VOICES = ["Ann", "Bob", "Chidi Okafor", "Zo\u00eb"]


def clock(ms, fmt):
    hours, rest = divmod(ms, 3600000)
    minutes, rest = divmod(rest, 60000)
    seconds, millis = divmod(rest, 1000)
    if fmt == "sbv":
        return f"{hours}:{minutes:02}:{seconds:02}.{millis:03}"
    return f"{hours:02}:{minutes:02}:{seconds:02}{',' if fmt == 'srt' else '.'}{millis:03}"


def sentence(rng, fmt):
    """One caption line: words, some styled, some said by a voice or a labelled speaker."""
    text = " ".join(rng.choice(WORDS) for _ in range(rng.randrange(1, 9)))
    roll = rng.random()
    if roll < 0.15:
        text = text.replace(" ", " <i>", 1) + "</i>"
    elif roll < 0.25 and fmt == "vtt":
        text = f"<c.yellow>{text}</c> &amp; <b>more</b> &lt;3 <00:00:01.500>done"
    elif roll < 0.3 and fmt == "srt":
        text = "{\\an8}" + text
    roll = rng.random()
    if fmt == "vtt" and roll < 0.25:
        text = f"<v {rng.choice(VOICES)}>{text}</v>"
    elif roll < 0.4:
        text = f"{rng.choice(VOICES)}: {text}"
    elif roll < 0.45:
        text = f">> {text}"
    return text


def captions(rng, fmt, cues):
    """A caption file of format `fmt` (bytes) of `cues` cues."""
    out = ["WEBVTT\n\n"] if fmt == "vtt" else []
    at = rng.randrange(0, 3000)
    previous = sentence(rng, fmt)
    for number in range(cues):
        end = at + rng.choice([400, 1500, 2500, 4000])
        roll = rng.random()
        if roll < 0.3:
            lines = [previous, sentence(rng, fmt)]  # rolling: the line before, then a new one
        elif roll < 0.4:
            lines = [previous]  # the same cue again
        else:
            lines = [sentence(rng, fmt) for _ in range(rng.randrange(1, 3))]
        previous = lines[-1]
        if fmt == "srt":
            out.append(f"{number + 1}\n")
        elif fmt == "vtt" and rng.random() < 0.05:
            out.append("NOTE checked by the safety team\n\n")
        if fmt == "sbv":
            out.append(f"{clock(at, fmt)},{clock(end, fmt)}\n")
        else:
            out.append(f"{clock(at, fmt)} --> {clock(end, fmt)}\n")
        out.append("\n".join(lines) + "\n\n")
        at = end + rng.choice([0, 0, 100, 3000])
    return "".join(out).encode("utf-8")


def caption_files(seed, layout, mixed=True):
    """{relative path: bytes}: for each (folder, count, cues) of `layout`, `count` caption files
    of a number of cues in the range `cues`; all WebVTT, or when `mixed` mostly WebVTT and some
    SubRip and SBV, some of those sharing a .vtt file's name."""
    rng = random.Random(seed)
    files = {}
    for folder, count, cues in layout:
        for number in range(count):
            roll = rng.random() if mixed else 0
            fmt = "vtt" if roll < 0.7 else "srt" if roll < 0.85 else "sbv"
            name = f"{folder}/lesson-{number - 1:04}.{fmt}"  # sharing a transcript name
            if rng.random() < 0.9 or name in files:
                name = f"{folder}/lesson-{number:04}.{fmt}"
            files[name] = captions(rng, fmt, rng.randrange(*cues))
    return files


def write_tree(root, files, manifests=()):
    """Writes `files` ({relative path: bytes}) under `root`, in their order, and a manifest with
    a title in each course folder of `manifests`."""
    for course in manifests:
        (root / course).mkdir(parents=True, exist_ok=True)
        (root / course / "imsmanifest.xml").write_bytes(TITLE_MANIFEST)
    for name, data in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)


def snapshot(root):
    """Everything under `root` by relative path: files by mode and bytes, links by target,
    folders and FIFOs by kind."""
    entries = {}
    for folder, folders, names in os.walk(root):
        for name in folders + names:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            key = os.path.relpath(path, root)
            if stat.S_ISLNK(info.st_mode):
                entries[key] = ("link", os.readlink(path))
            elif stat.S_ISDIR(info.st_mode):
                entries[key] = ("folder", stat.S_IMODE(info.st_mode))
            elif stat.S_ISREG(info.st_mode):
                with open(path, "rb") as file:
                    entries[key] = ("file", stat.S_IMODE(info.st_mode), file.read())
            else:
                entries[key] = ("other", stat.S_IFMT(info.st_mode))
    return entries


def cli(*args):
    """Runs orvane-convert; returns (exit status, stderr lines)."""
    done = subprocess.run([CONVERT, "-q", *args], capture_output=True, timeout=PATIENCE)
    return done.returncode, os.fsdecode(done.stderr).splitlines()


# The tree of the comparisons: 2,000 caption files in courses (two levels below a course
# folder, whose manifest titles their transcripts), in plain folders at several depths, and
# the cases below, in the course's largest folder so that partitions cut through it.
CAPTIONS = "course__1/media/captions"
LAYOUT = [(CAPTIONS, 1100, (1, 12)), ("course__2/media/captions", 300, (1, 12)),
          ("misc", 150, (0, 5)), ("misc/deep/er/still/deeper", 250, (1, 12)),
          ("misc/deep/er/still/deeper/y.vtt", 80, (1, 12)), ("z", 107, (1, 40))]


def add_hard_cases(root):
    """Entries a run must pass over, refuse or choose between, in CAPTIONS. Returns their
    expected results: [(names, results of a WebVTT run, results with all formats)], the results
    sorted, None for no outcome; of names sharing a transcript, the first listed writes it."""
    folder = root / CAPTIONS
    elsewhere = root / "elsewhere"
    elsewhere.mkdir()
    (elsewhere / "kept.txt").write_bytes(b"kept")
    webvtt = b"WEBVTT\n\n00:01.000 --> 00:02.000\n<v Ann>Exit <i>left</i>\n\n"
    subrip = b"1\n00:00:01,000 --> 00:00:02,000\nBob: Stairs\n\n"
    os.mkfifo(folder / "a.vtt")  # never opened: not a regular file
    (folder / "a.VTT").write_bytes(webvtt)  # its transcript is a.txt too
    (folder / "b.srt").write_bytes(subrip)
    (folder / "b.SRT").write_bytes(subrip.replace(b"Stairs", b"Door"))
    (folder / "b.sbv").write_bytes(b"0:00:01.000,0:00:02.000\nPassed over\n\n")
    (folder / "f.vtt").write_bytes(webvtt)
    (folder / "f.VTT").write_bytes(webvtt.replace(b"Exit", b"Door"))
    os.symlink("missing.vtt", folder / "x.vtt")
    os.symlink("../../../elsewhere", folder / "linked")  # relative: alike in both copies
    os.symlink("../../../elsewhere", folder / "linked.vtt")
    (folder / "y.vtt").mkdir()
    (folder / "y.vtt" / "inside.vtt").write_bytes(webvtt)
    (folder / "c.vtt").write_bytes(webvtt)
    os.symlink("../../../elsewhere/kept.txt", folder / "c.txt")  # never written through
    (folder / "d.vtt").write_bytes(webvtt)
    (folder / "d.txt").mkdir()
    (folder / "e.vtt").write_bytes(webvtt)
    (folder / "e.txt").write_bytes(b"an old transcript")  # replaced
    (folder / os.fsdecode(b"caf\xe9.vtt")).write_bytes(webvtt)  # a name that is no UTF-8
    failed, converted = ["open_failed"], ["converted"]
    return [(("a.vtt",), failed, failed), (("a.VTT",), converted, converted),
            (("b.srt", "b.SRT"), [None, None], ["converted", "open_failed"]),
            (("b.sbv",), [None], [None]),
            (("f.vtt", "f.VTT"), ["converted", "open_failed"], ["converted", "open_failed"]),
            (("x.vtt",), failed, failed), (("c.vtt",), failed, failed),
            (("d.vtt",), failed, failed), (("e.vtt",), converted, converted),
            ((os.fsdecode(b"caf\xe9.vtt"),), converted, converted),
            (("linked", "linked.vtt", "y.vtt"), [None] * 3, [None] * 3),
            (("y.vtt/inside.vtt",), converted, converted)]


def comparison_tree(root):
    """Writes the comparison tree; returns its generated files and its hard cases."""
    files = caption_files(1, LAYOUT)
    write_tree(root, files, manifests=["course__1"])
    (root / "course__2" / "notes.md").write_text("no manifest: no title\n")
    (root / "empty" / "deeper").mkdir(parents=True)
    hard = add_hard_cases(root)
    assert len(files) + sum(len(names) for names, _, _ in hard) - 3 == 2000  # less the links
    return files, hard


def expected_outcomes(files, hard, all_formats, folder, recursive):
    """The results of the hard cases, as add_hard_cases gives them, and how many files of the
    tree a run converts: one per transcript name of its generated files (a .srt or .sbv file
    beside a .vtt file of its name is passed over), and the hard cases that convert."""
    def inside(name):
        return name.startswith(folder) if recursive else os.path.dirname(name) == folder
    names = {name[:-4] for name in files
             if inside(name) and (all_formats or name.endswith(".vtt"))}
    expected = [(group, (on_all if all_formats else on_webvtt)
                 if inside(f"{CAPTIONS}/{group[0]}") else [None] * len(group))
                for group, on_webvtt, on_all in hard]
    return expected, len(names) + sum(results.count("converted") for _, results in expected)


# (name, orvane-convert options, convert_tree options, folder, recursive)
COMPARISONS = [
    ("plain tree", [], {}, "", True),
    # Not the user's language: pages tell which one the run was given.
    ("all formats, paragraphs, pages",
     ["--all-formats", "--paragraphs", "--html", "--lang", "fr-CA"],
     {"all_formats": True, "paragraphs": True, "html": True, "language": "fr-CA"}, "", True),
    ("timestamps", ["--timestamps"], {"timestamps": True}, "", True),
    ("one folder, clean, all formats", ["--clean", "--all-formats"],
     {"clean": True, "all_formats": True}, CAPTIONS, False),
]


@pytest.mark.parametrize("flags,options,folder,recursive",
                         [case[1:] for case in COMPARISONS], ids=[c[0] for c in COMPARISONS])
def test_a_tree_gives_the_command_lines_files_and_messages(tmp_path, client, flags, options,
                                                           folder, recursive):
    """On two copies of a tree, orvane-convert and convert_tree, in 37-file partitions, write
    the same bytes to the same files, report the same failures in the same order, and convert
    the files the tree's design says."""
    copies = {}
    for copy in ("cli", "dask"):
        copies[copy] = tmp_path / copy
        files, hard = comparison_tree(copies[copy])
    status, errors = cli(*(["-r"] if recursive else []), *flags, str(copies["cli"] / folder))
    assert status == 1
    outcomes = orvane.dask.convert_tree(copies["dask"] / folder, client=client,
                                        partition_files=37, recursive=recursive, **options)

    assert snapshot(copies["dask"]) == snapshot(copies["cli"])
    failed = [f"orvane-convert: {o.path}: {o.message}" for o in outcomes if not o.ok]
    assert failed == [line.replace(str(copies["cli"]), str(copies["dask"])) for line in errors]
    hard_results, converted = expected_outcomes(files, hard, options.get("all_formats", False),
                                                folder, recursive)
    results = {os.path.relpath(o.path, copies["dask"] / CAPTIONS): o.result for o in outcomes}
    assert [(group, sorted((results.get(name) for name in group), key=str))
            for group, _ in hard_results] == hard_results
    assert sum(o.ok for o in outcomes) == converted
    assert all(o.message is None for o in outcomes if o.ok)


@pytest.mark.parametrize("recursive", [True, False])
def test_a_tree_without_caption_files_gives_no_outcomes(tmp_path, client, recursive):
    (tmp_path / "deeper" / "still").mkdir(parents=True)
    (tmp_path / "deeper" / "notes.txt").write_bytes(b"not a caption file")
    assert orvane.dask.convert_tree(tmp_path, client=client, recursive=recursive) == []


# The kill runs: 2,000 larger WebVTT files, some of them long, in 5-file partitions: a run of
# seconds, long enough to lose a worker in its middle. A third of them have an old transcript.
KILL_LAYOUT = [("course__7/media/captions", 1200, (30, 90)),
               ("course__7/media/long", 12, (3000, 4000)),
               ("course__7/media/extra", 388, (30, 90)),
               ("other", 400, (30, 90))]


@pytest.fixture(scope="module")
def kill_tree(tmp_path_factory):
    """The kill runs' captions and the transcripts orvane-convert -r writes of them."""
    files = caption_files(7, KILL_LAYOUT, mixed=False)
    assert len(files) == 2000
    old = {name[:-4] + ".txt": b"old transcript of " + name.encode() + b"\r\n"
           for number, name in enumerate(files) if number % 3 == 0}
    root = tmp_path_factory.mktemp("expected")
    write_tree(root, files, manifests=["course__7"])
    status, errors = cli("-r", str(root))
    assert (status, errors) == (0, [])
    expected = {name[:-4] + ".txt": (root / (name[:-4] + ".txt")).read_bytes() for name in files}
    assert not set(old.values()) & set(expected.values())
    return files, old, expected


def kill_a_worker(client, workers):
    """Kills a worker process that holds partitions of the run; returns the pids that must be
    gone."""
    address, pid = sorted(workers.items())[0]
    assert client.processing([address])[address], "the worker to kill holds no partition"
    os.kill(pid, signal.SIGKILL)
    return {pid}


def restart_the_cluster(client, workers):
    """Restarts every worker from the test: the run's futures are cancelled; returns the pids
    that must be gone."""
    assert any(client.processing().values()), "no worker holds a partition"
    client.restart()
    return set(workers.values())


@pytest.mark.parametrize("interrupt", [kill_a_worker, restart_the_cluster])
def test_a_lost_worker_leaves_old_or_whole_transcripts(tmp_path, client, kill_tree, interrupt):
    """A worker killed in the middle of a run (or every worker, by a restart) leaves each
    transcript either old or whole at every moment, and its partitions are converted again:
    every file converted, every transcript whole. A killed worker may leave the temporary file
    it was writing (hidden, .orvane-XXXXXXXXXXXX.tmp), never a .txt file."""
    workers = ready(client)
    files, old, expected = kill_tree
    root = tmp_path / "tree"
    write_tree(root, files, manifests=["course__7"])
    write_tree(root, old)
    folders = sorted({str(root / name).rpartition("/")[0] for name in expected})

    def transcripts_written():
        return sum(1 for folder in folders for entry in os.scandir(folder)
                   if entry.name.endswith(".txt"))

    run = {}

    def convert():
        try:
            run["outcomes"] = orvane.dask.convert_tree(root, client=client, partition_files=5)
        except BaseException as error:  # reported by the test's thread
            run["error"] = error
        run["ended"] = time.monotonic()

    wrong = []
    passes = [0]
    stop = threading.Event()

    def check():
        """Reads every transcript over and over: old, whole or not there yet, never else."""
        while not stop.is_set():
            for name, whole in expected.items():
                try:
                    data = (root / name).read_bytes()
                except FileNotFoundError:
                    data = None
                if data != whole and data != old.get(name) and len(wrong) < 5:
                    wrong.append((name, data[:200] if data else data))
            passes[0] += 1

    converting = threading.Thread(target=convert, daemon=True)
    checking = threading.Thread(target=check, daemon=True)
    before = transcripts_written()
    checking.start()
    converting.start()
    try:
        wait_for(lambda: transcripts_written() > before + 50 or "ended" in run,
                 "the first new transcripts")
        assert "ended" not in run, "the run ended before it could be interrupted: make the " \
                                   "kill tree bigger"
        written = transcripts_written()
        interrupted, checked = time.monotonic(), passes[0]
        gone = interrupt(client, workers)
        wait_for(lambda: "ended" in run, "the interrupted run to end")
        checked = passes[0] - checked
        stop.set()
        checking.join(PATIENCE)
    finally:
        stop.set()
    print(f"{interrupt.__name__}: {written - before} new transcripts of {len(expected)} when "
          f"interrupted, {run['ended'] - interrupted:.1f} s before the run ended; {checked} "
          "checks of every transcript meanwhile")
    assert "error" not in run, repr(run.get("error"))
    assert written < len(expected) and run["ended"] > interrupted, "not interrupted mid-run"
    assert checked >= 1 and not checking.is_alive()
    assert wrong == []

    outcomes = run["outcomes"]
    assert [(o.result, o.message) for o in outcomes] == [("converted", None)] * len(files)
    assert sorted(os.path.relpath(o.path, root) for o in outcomes) == sorted(files)
    tree = snapshot(root)
    assert {name: tree.get(name, (None,) * 3)[2] for name in expected} == expected
    leftovers = {name for name, entry in tree.items() if entry[0] != "folder"}
    leftovers -= set(files) | set(expected) | {"course__7/imsmanifest.xml"}
    assert all(TEMPORARY.fullmatch(os.path.basename(name)) for name in leftovers), leftovers
    print(f"{interrupt.__name__}: temporary files left: {sorted(leftovers)}")
    assert not gone & set(ready(client).values())


# Caption content for the bags: generated files of each format, a file with a byte order
# mark, an empty one, and caption files by path.
def bag_items(tmp_path):
    rng = random.Random(4)
    items = []
    for number in range(60):
        fmt = ["vtt", "srt", "sbv"][number % 3] if number % 4 else "vtt"
        items.append(captions(rng, fmt, rng.randrange(0, 15)))
    items += [b"\xef\xbb\xbf" + items[0], b"", "WEBVTT\n\n00:01.000 --> 00:02.000\nZo\u00eb\n"]
    for number in range(3):
        path = tmp_path / f"file{number}.vtt"
        path.write_bytes(items[number * 4])
        items.append(path)
    return items


TRANSCRIPT_OPTIONS = [{}, {"clean": True}, {"paragraphs": True, "title": "Fire & Safety"},
                      {"timestamps": True}, {"format": "srt"}, {"format": "sbv", "clean": True}]


@pytest.mark.parametrize("keyed", [False, True], ids=["captions", "keyed"])
def test_bags_give_the_modules_transcripts_and_cues(tmp_path, client, keyed):
    """transcripts() and cue_records() of a bag are orvane.transcript and orvane.cues of its
    items, in their order, keys kept, on the workers."""
    ready(client)
    items = bag_items(tmp_path)
    keys = [f"item-{number}" for number in range(len(items))]
    bag = dask.bag.from_sequence(list(zip(keys, items)) if keyed else items, npartitions=7)
    for options in TRANSCRIPT_OPTIONS:
        got = orvane.dask.transcripts(bag, **options).compute(scheduler=client)
        wanted = [orvane.transcript(item, **options) for item in items]
        assert got == (list(zip(keys, wanted)) if keyed else wanted), options
    for format in [None, "srt", "sbv"]:
        got = orvane.dask.cue_records(bag, format=format).compute(scheduler=client)
        wanted = [{"key": key if keyed else None, "cue": number, "start": cue.start,
                   "end": cue.end, "text": line.text, "speaker": line.speaker}
                  for key, item in zip(keys, items)
                  for number, cue in enumerate(orvane.cues(item, format=format))
                  for line in cue.lines]
        assert got == wanted, format
        assert any(record["speaker"] for record in got)
