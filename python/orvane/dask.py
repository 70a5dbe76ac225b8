"""Orvane on a Dask cluster: caption trees and in-memory collections converted across machines.

Needs Dask's distributed scheduler (Debian: python3-distributed). The same
code runs on a LocalCluster or on machines running `dask scheduler` and
`dask worker`:

    from dask.distributed import Client
    import orvane.dask

    client = Client("tcp://scheduler:8786")   # or Client(LocalCluster(...))
    outcomes = orvane.dask.convert_tree("/srv/courses", client=client, clean=True)
    failed = [o for o in outcomes if not o.ok]

convert_tree() lists the tree where it is called and sends its caption files
to the workers in partitions of many files, not a task per file; every
worker must see the tree at the same path (a shared file system). Each
transcript is written as orvane-convert writes it: the old one or all of the
new one, never a part, whatever happens to a worker. A partition whose
worker dies is converted again on another; one that cannot be converted is
reported file by file ("not_converted"), never lost.

transcripts() and cue_records() convert a Dask bag of caption content, as
read from a dataset, partition by partition.
"""

from __future__ import annotations

import math
from typing import Dict, List, Optional, Tuple

import dask.bag
from distributed import as_completed, get_client

import orvane
from orvane import _orvane

__all__ = ["convert_tree", "cue_records", "transcripts"]


def convert_tree(folder, *, client=None, clean=False, paragraphs=False, timestamps=False,
                 html=False, all_formats=False, recursive=True, language=None,
                 partition_files=None, retries=2) -> List[orvane.Outcome]:
    """Converts every caption file under `folder` on a Dask cluster; returns the outcomes.

    The transcripts, pages and outcomes are those of
    orvane.convert_folder(folder, recursive=True, ...) and of
    `orvane-convert -r`: the same files, course titles, messages and order.
    Options as for orvane.convert_folder; `recursive=False` converts the
    folder alone.

    client: the distributed.Client to run on; by default the current one.
    partition_files: caption files per task; by default enough tasks for
        about eight per worker thread, at most 1,000 files each.
    retries: how many times a partition lost with its worker (or to
        client.restart()) is sent again before its files are reported as
        "not_converted".
    """
    client = client if client is not None else get_client()
    path = orvane._folder_path(folder)
    style = orvane._style(clean, paragraphs, timestamps, None, html or all_formats)
    html = orvane._flag(html, "html")
    all_formats = orvane._flag(all_formats, "all_formats")
    recursive = orvane._flag(recursive, "recursive")
    language = orvane._language(language)
    if isinstance(retries, bool) or not isinstance(retries, int):
        raise TypeError(f"retries must be an int, not {type(retries).__name__}")
    if retries < 0:
        raise ValueError(f"retries must be at least 0, not {retries}")
    if partition_files is not None:
        if isinstance(partition_files, bool) or not isinstance(partition_files, int):
            raise TypeError(f"partition_files must be an int or None, not "
                            f"{type(partition_files).__name__}")
        if partition_files < 1:
            raise ValueError(f"partition_files must be at least 1, not {partition_files}")
    # Listing only: the files a run converts, in its order, and its folder messages.
    plan = _orvane.convert_folder(path, style, html, all_formats, recursive, 1, language, True)
    files = [index for index, event in enumerate(plan) if event[0] == "file"]
    if partition_files is None:
        threads = max(1, sum(client.nthreads().values()))
        partition_files = max(1, min(1000, math.ceil(len(files) / (8 * threads))))
    partitions = _partition(plan, files, partition_files)

    results: Dict[int, Tuple[int, str]] = {}
    arguments = (style, html, all_formats, language)
    futures = {}
    for number, partition in enumerate(partitions):
        futures[client.submit(orvane._convert_parts, _parts(plan, partition), *arguments,
                              pure=False)] = (number, 0)
    pending = as_completed(list(futures))
    for future in pending:
        number, tries = futures.pop(future)
        partition = partitions[number]
        try:
            _take_results(plan, partition, future.result(), results)
            continue
        except Exception as error:  # a lost worker, a restart, a failing task
            if tries < retries:
                again = client.submit(orvane._convert_parts, _parts(plan, partition),
                                      *arguments, pure=False)
                futures[again] = (number, tries + 1)
                pending.add(again)
                continue
            reason = f"not converted: {type(error).__name__}: {error}"
            for index in partition:
                results[index] = (-1, reason)
        finally:
            future.release()

    # The listing's events, each file's with the result of its conversion.
    events = [event[:3] + results[index] if event[0] == "file" else event
              for index, event in enumerate(plan)]
    return orvane._outcomes(events, path)


def _partition(plan, files, size) -> List[List[int]]:
    """Cuts the plan's files into partitions of about `size`, in order.

    Files of one folder with one transcript name go to the partition of the
    first of them, in their order: which of them writes it depends on those
    before it.
    """
    partitions: List[List[int]] = []
    first: Dict[Tuple[bytes, bytes], int] = {}
    for index in files:
        _, folder, name, _, _ = plan[index]
        key = (folder, _orvane.transcript_name(name))
        if key in first:
            partitions[first[key]].append(index)
            continue
        if not partitions or len(partitions[-1]) >= size:
            partitions.append([])
        first[key] = len(partitions) - 1
        partitions[-1].append(index)
    return partitions


def _parts(plan, partition) -> List[Tuple[bytes, List[bytes]]]:
    """A partition's files as (folder, names) parts, folder by folder, in order."""
    parts: List[Tuple[bytes, List[bytes]]] = []
    places: Dict[bytes, int] = {}
    for index in partition:
        _, folder, name, _, _ = plan[index]
        if folder not in places:
            places[folder] = len(parts)
            parts.append((folder, []))
        parts[places[folder]][1].append(name)
    return parts


def _take_results(plan, partition, part_events, results) -> None:
    """Files each part's events to the plan's files they are of."""
    queues: Dict[Tuple[bytes, bytes], List[int]] = {}
    for index in partition:
        _, folder, name, _, _ = plan[index]
        queues.setdefault((folder, name), []).append(index)
    for events in part_events:
        for kind, folder, name, number, message in events:
            if kind == "file":
                results[queues[(folder, name)].pop(0)] = (number, message)


def _items(partition, convert):
    """`convert` applied to each item, keeping a (key, captions) item's key."""
    out = []
    for item in partition:
        if isinstance(item, tuple) and len(item) == 2:
            out.append((item[0], convert(item[1])))
        else:
            out.append(convert(item))
    return out


def _transcripts_of(partition, options):
    return _items(partition, lambda captions: orvane.transcript(captions, **options))


def _records_of(partition, format):
    records = []
    for item in partition:
        key, captions = item if isinstance(item, tuple) and len(item) == 2 else (None, item)
        for number, cue in enumerate(orvane.cues(captions, format=format)):
            for line in cue.lines:
                records.append({"key": key, "cue": number, "start": cue.start, "end": cue.end,
                                "text": line.text, "speaker": line.speaker})
    return records


def transcripts(bag: dask.bag.Bag, *, clean=False, paragraphs=False, timestamps=False,
                title=None, format=None) -> dask.bag.Bag:
    """A bag of the transcripts (bytes) of a bag of caption content, item for item.

    Items are caption content or caption files as orvane.transcript takes
    them, or (key, captions) pairs, which give (key, transcript) pairs.
    Options as for orvane.transcript; they are checked here, not on the
    workers.
    """
    options = {"clean": clean, "paragraphs": paragraphs, "timestamps": timestamps,
               "title": title, "format": format}
    orvane.transcript(b"", **options)
    return bag.map_partitions(_transcripts_of, options)


def cue_records(bag: dask.bag.Bag, *, format: Optional[str] = None) -> dask.bag.Bag:
    """A flat bag of records, one per cleaned cue line of a bag of caption content.

    Each record is a dict: "key" (the key of a (key, captions) item, else
    None), "cue" (the cue's number in its file, from 0), "start" and "end"
    (seconds), "text" and "speaker" (a name or None); `bag.to_dataframe()`
    makes a table of them.
    """
    orvane.cues(b"", format=format)
    return bag.map_partitions(_records_of, format)
