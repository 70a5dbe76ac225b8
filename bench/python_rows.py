"""The rows of bench/compare.py that time the Python module orvane.

- orvane.transcript over caption files held in memory as bytes, as a dataset
  holds them, in one process, against webvtt-py reading the same bytes from
  memory (webvtt.WebVTT.read_buffer) and writing the same kind of transcript
  as bench/webvtt_py.py;
- orvane.dask.convert_tree on a running LocalCluster of two worker processes
  of one thread each, against `orvane-convert -r -j 2`, on one tree of
  caption files; both must write the same transcripts.

The module is imported from BUILD/python (a build with
-DORVANE_BUILD_PYTHON=ON); a row whose module cannot be imported is skipped,
with the reason, and so is a row of size 0.
"""

import hashlib
import io
import logging
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))

DATASET_FILE_MB = 0.1  # caption files of the in-memory dataset, at most this size
TREE_FOLDER_FILES = 100  # caption files per folder of the tree
DASK_WORKERS = 2
DASK_ROUNDS = 3  # at most this many timed runs of each contender on the tree


def import_orvane(build, with_dask=False):
    """Imports orvane (and orvane.dask) from BUILD/python; returns (module, None)
    or (None, why it cannot be)."""
    where = os.path.join(build, "python")
    if where not in sys.path:
        sys.path.insert(0, where)
    # Worker processes of a LocalCluster import it too.
    paths = [where] + [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p]
    os.environ["PYTHONPATH"] = os.pathsep.join(dict.fromkeys(paths))
    try:
        import orvane
    except ImportError as error:
        return None, ("the Python module orvane cannot be imported from %s (%s): build with "
                      "-DORVANE_BUILD_PYTHON=ON" % (where, error))
    if os.path.dirname(os.path.dirname(os.path.realpath(orvane.__file__))) != os.path.realpath(where):
        return None, "orvane was imported from %s, not from %s" % (orvane.__file__, where)
    if with_dask:
        try:
            import distributed  # noqa: F401
            import orvane.dask  # noqa: F401
        except ImportError as error:
            return None, "Dask's distributed scheduler cannot be imported (%s): apt-get install " \
                         "python3-distributed" % error
    return orvane, None


def generate_course(out, files, file_mb, seed):
    """make_captions.py's course package in `out`; returns its captions folder."""
    result = subprocess.run([sys.executable, os.path.join(HERE, "make_captions.py"), out,
                             "--files", str(files), "--size", repr(file_mb), "--seed", str(seed)],
                            check=True, stdout=subprocess.PIPE, text=True)
    return result.stdout.strip()


def dataset_shape(megabytes):
    """(files, MB per file) of an in-memory dataset of about `megabytes`."""
    file_mb = min(DATASET_FILE_MB, megabytes)
    return max(1, round(megabytes / file_mb)), file_mb


def tree_shape(files, megabytes):
    """(folders, MB per file) of a tree of `files` caption files and about `megabytes`."""
    return -(-files // TREE_FOLDER_FILES), megabytes / files


def course_title(captions):
    """The title in the manifest of the course package that holds `captions`."""
    with open(os.path.join(captions, "..", "..", "imsmanifest.xml"), encoding="utf-8") as manifest:
        return re.search(r"<title>(.*?)</title>", manifest.read()).group(1)


def webvtt_transcript(captions):
    """What bench/webvtt_py.py writes for caption bytes, made from memory:
    each caption's text and a line end, lines ending in CR LF."""
    import webvtt
    out = io.StringIO(newline="\r\n")
    for caption in webvtt.WebVTT.read_buffer(io.StringIO(captions.decode("utf-8"))):
        out.write(caption.text + "\n")
    return out.getvalue().encode("utf-8")


def timed(convert, dataset):
    """Converts every item of `dataset`; returns (wall s, CPU s of this process)."""
    wall, cpu = time.perf_counter(), time.process_time()
    for captions in dataset:
        convert(captions)
    return time.perf_counter() - wall, time.process_time() - cpu


def in_memory(build, work, megabytes, rounds):
    """Times orvane.transcript (default style, then clean) on a dataset of about
    `megabytes` held in memory, best of `rounds`, and webvtt-py once on the same
    bytes. Returns a dict of the figures, or {"skipped": reason}."""
    orvane, why = import_orvane(build)
    if orvane is None:
        return {"skipped": why}
    files, file_mb = dataset_shape(megabytes)
    folder = os.path.join(work, "dataset")
    captions = generate_course(folder, files, file_mb, seed=11)
    names = sorted(name for name in os.listdir(captions) if name.endswith(".vtt"))
    dataset = []
    for name in names:
        with open(os.path.join(captions, name), "rb") as caption:
            dataset.append(caption.read())
    # The same bytes as orvane-convert's folder run, once the course title heads them.
    subprocess.run([os.path.join(build, "orvane-convert"), "-q", captions], check=True)
    title = course_title(captions)
    differing = 0
    for name, data in zip(names, dataset):
        with open(os.path.join(captions, name[:-4] + ".txt"), "rb") as text:
            differing += orvane.transcript(data, title=title) != text.read()
    shutil.rmtree(folder)

    styles = {"default": lambda data: orvane.transcript(data),
              "clean": lambda data: orvane.transcript(data, clean=True)}
    best = {style: (float("inf"), 0.0) for style in styles}
    webvtt = None
    for round_index in range(max(1, rounds)):
        for style, convert in styles.items():
            best[style] = min(best[style], timed(convert, dataset))
        if round_index == 0:  # once, after the first round of orvane.transcript
            webvtt = timed(webvtt_transcript, dataset)
    return {"files": files, "bytes": sum(len(data) for data in dataset), "rounds": max(1, rounds),
            "default": best["default"], "clean": best["clean"], "webvtt": webvtt,
            "same": "yes" if differing == 0 else "no (%d of %d)" % (differing, files)}


def make_tree(root, files, megabytes):
    """Writes a tree of `files` caption files of about `megabytes` in all:
    course packages ROOT/courseNNN__2026/media/captions of 100 files each, the
    same generated files copied into each. Returns the caption bytes written."""
    folders, file_mb = tree_shape(files, megabytes)
    source = generate_course(os.path.join(root, "source"), min(files, TREE_FOLDER_FILES), file_mb,
                             seed=29)
    names = sorted(name for name in os.listdir(source) if name.endswith(".vtt"))
    manifest = os.path.join(source, "..", "..", "imsmanifest.xml")
    total = 0
    for index in range(folders):
        course = os.path.join(root, "course%03d__2026" % index)
        captions = os.path.join(course, "media", "captions")
        os.makedirs(captions)
        shutil.copyfile(manifest, os.path.join(course, "imsmanifest.xml"))
        for name in names[:files - index * TREE_FOLDER_FILES]:
            shutil.copyfile(os.path.join(source, name), os.path.join(captions, name))
            total += os.path.getsize(os.path.join(source, name))
    shutil.rmtree(os.path.join(root, "source"))
    return total


def tree_transcripts(root):
    """Maps each transcript under `root` (its path from there) to the SHA-256 of its bytes."""
    digests = {}
    for folder, _, names in os.walk(root):
        for name in names:
            if name.endswith(".txt"):
                path = os.path.join(folder, name)
                with open(path, "rb") as text:
                    digests[os.path.relpath(path, root)] = hashlib.sha256(text.read()).hexdigest()
    return digests


def remove_transcripts(root):
    for folder, _, names in os.walk(root):
        for name in names:
            if name.endswith(".txt"):
                os.remove(os.path.join(folder, name))


def differences(reference, produced):
    """How many transcripts of `reference` `produced` lacks or has other bytes of,
    and how many it has that `reference` lacks."""
    return (sum(1 for path, digest in reference.items() if produced.get(path) != digest)
            + sum(1 for path in produced if path not in reference))


def worker_cpu(client):
    """User and system seconds of the cluster's worker processes so far."""
    return sum(sum(times[:2]) for times in client.run(lambda: tuple(os.times())).values())


def on_dask(build, work, files, megabytes, rounds, run_measured):
    """Times orvane.dask.convert_tree on a LocalCluster against orvane-convert
    -r -j 2 on a tree of `files` caption files of about `megabytes`, in
    interleaved runs, the best of each. Returns a dict of the figures, or
    {"skipped": reason}."""
    orvane, why = import_orvane(build, with_dask=True)
    if orvane is None:
        return {"skipped": why}
    import distributed
    import orvane.dask

    root = tempfile.mkdtemp(prefix="tree-", dir=work)
    try:
        total = make_tree(root, files, megabytes)
        convert = [os.path.join(build, "orvane-convert"), "-q", "-r", "-j", str(DASK_WORKERS), root]
        # Started before and closed after the runs: its start is not timed.
        # On this machine only, its web server on a free port and without the dashboard.
        with distributed.LocalCluster(n_workers=DASK_WORKERS, threads_per_worker=1, processes=True,
                                      host="127.0.0.1", dashboard_address="127.0.0.1:0",
                                      scheduler_kwargs={"dashboard": False},
                                      silence_logs=logging.ERROR) as cluster, \
                distributed.Client(cluster) as client:

            def run_dask():
                cpu, workers = time.process_time(), worker_cpu(client)
                start = time.perf_counter()
                outcomes = orvane.dask.convert_tree(root, client=client)
                wall = time.perf_counter() - start
                failed = [outcome for outcome in outcomes if not outcome.ok]
                if len(outcomes) != files or failed:
                    sys.exit("orvane.dask.convert_tree: %d outcomes for %d files, %d failed: %s"
                             % (len(outcomes), files, len(failed), failed[:3]))
                return wall, time.process_time() - cpu + worker_cpu(client) - workers

            def run_convert():
                return run_measured(convert)[:2]

            # First runs, each from a tree without transcripts: the transcripts
            # to compare, the page cache filled and orvane imported on the workers.
            run_convert()
            reference = tree_transcripts(root)
            remove_transcripts(root)
            run_dask()
            differing = differences(reference, tree_transcripts(root))
            runs = {"convert": [], "dask": []}
            for round_index in range(rounds):
                order = [("convert", run_convert), ("dask", run_dask)]
                for name, run in (order if round_index % 2 == 0 else order[::-1]):
                    os.sync()  # the previous run's transcripts written back, not throttling this one
                    runs[name].append(run())
            return {"files": files, "folders": tree_shape(files, megabytes)[0], "bytes": total,
                    "rounds": rounds, "convert": min(runs["convert"]), "dask": min(runs["dask"]),
                    "same": "yes" if differing == 0 and len(reference) == files
                    else "no (%d of %d)" % (differing, files)}
    finally:
        shutil.rmtree(root)
