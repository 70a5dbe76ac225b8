"""Caption files (WebVTT, SubRip, SBV) to plain-text transcripts, at the speed of C++.

Orvane turns caption files into transcripts. This module runs its C++ engine:
the same transcripts as the command-line converter orvane-convert, byte for
byte, with the interpreter lock released while it converts, so that threads
convert side by side.

Functions:
    transcript(captions)          the transcript of caption bytes or of a caption file
    convert_file(source, target)  a caption file's transcript written to a file
    cues(captions)                the cues: times, cleaned lines and speakers
    convert_folder(folder)        every caption file of a folder or tree, as orvane-convert does
    orvane.dask                   the same on a Dask cluster, for trees and in-memory bags

Options, as on the command line, all False unless given:
    clean        only what was said: speaker labels, no repeated lines (UTF-8)
    paragraphs   clean lines joined into paragraphs (implies clean)
    timestamps   each paragraph starts with its time, "[MM:SS]" (implies paragraphs)
    html         a web page NAME.html beside each transcript NAME.txt (implies clean)
    all_formats  SubRip (.srt) and SBV (.sbv) files too (implies clean)

Caption content is bytes (bytes, bytearray, memoryview) or str, which is taken
as UTF-8; a caption file is an os.PathLike such as pathlib.Path. A plain str
is always content, never a path.

Example:
    >>> import orvane
    >>> orvane.transcript(b"WEBVTT\\n\\n00:01.000 --> 00:02.000\\n<v Ann>Hello\\n", clean=True)
    b'Ann: Hello\\r\\n'

The functions are plain Python functions, so Dask and multiprocessing send
them to other processes by name.
"""

import errno as _errno
import os as _os
import stat as _stat
from typing import List, NamedTuple, Optional

from . import _orvane

__all__ = ["Cue", "Line", "Outcome", "convert_file", "convert_folder", "cues", "transcript"]
__version__ = "1.0.0"

# The most files convert_folder converts at once, as for orvane-convert --jobs.
_MAX_JOBS = 1024
_FORMATS = {"vtt": 0, "srt": 1, "sbv": 2}
_RESULTS = {
    _orvane.CONVERTED: "converted",
    _orvane.OPEN_FAILED: "open_failed",
    _orvane.WRITE_FAILED: "write_failed",
}


class Line(NamedTuple):
    """One cleaned line of a cue."""

    text: str
    speaker: Optional[str]


class Cue(NamedTuple):
    """One cue of a caption file."""

    start: float
    end: float
    lines: List[Line]


class Outcome(NamedTuple):
    """What a run did with one caption file, or with a folder it could not read."""

    path: str
    result: str
    message: Optional[str]

    @property
    def ok(self) -> bool:
        """True when the caption file was converted."""
        return self.result == "converted"


def _document(cls, **fields):
    for name, doc in fields.items():
        getattr(cls, name).__doc__ = doc


_document(Line,
          text="The line's text: tags, position codes and a text label removed, references "
               "decoded.",
          speaker="Who speaks it: its voice's name, else the cue's text label (\"Ann: ...\"); "
                  "None when nobody is named.")
_document(Cue,
          start="When it is shown, in seconds from the start of the media.",
          end="When it is hidden, in seconds.",
          lines="Its cleaned lines that are not empty; none when every line cleaned to nothing.")
_document(Outcome,
          path="The caption file, or the folder.",
          result="""What happened:
    "converted";
    "open_failed": the caption file could not be read, or its transcript not
        created (a link, a folder, or a name another file of the run wrote,
        is never replaced);
    "write_failed": the transcript could not be written in full; the old one
        was left as it was;
    "folder_failed": a folder of the tree could not be read, or not to its end;
    "not_converted": (orvane.dask only) the part of the run that held the file
        was lost with its workers.""",
          message="The message orvane-convert prints for it, without the path; None when "
                  "converted.")


def transcript(captions, *, clean=False, paragraphs=False, timestamps=False, title=None,
               format=None) -> bytes:
    """Returns the transcript of `captions`: what its .txt file would hold.

    captions: caption content (bytes-like, or str taken as UTF-8), or a caption
        file (os.PathLike), read as it is converted.
    clean, paragraphs, timestamps: the transcript's style (see the module).
    title: the course title the transcript opens with, or None.
    format: "vtt", "srt" or "sbv"; by default a file's extension tells
        (.srt, .sbv, else WebVTT) and content is WebVTT. SubRip and SBV imply clean.

    The bytes are those of the file: lines end in CR LF; a clean transcript
    is UTF-8. Raises FileNotFoundError, IsADirectoryError or OSError (with the
    path and the reason) for a file that cannot be read; TypeError or
    ValueError for wrong arguments.
    """
    if isinstance(captions, _os.PathLike):
        path = _source_path(captions)
        fmt = _format_of(format, path)
        result, text = _orvane.transcript_of_file(
            path, _style(clean, paragraphs, timestamps, fmt), _title(title), fmt)
        if result == _orvane.WRITE_FAILED:
            raise MemoryError("not enough memory for the transcript")
        if result != _orvane.CONVERTED:
            _raise_read_error(path)
        return text
    data = _content(captions)
    fmt = _format_of(format, None)
    result, text = _orvane.transcript_of_bytes(
        data, _style(clean, paragraphs, timestamps, fmt), _title(title), fmt)
    if result != _orvane.CONVERTED:
        raise MemoryError("not enough memory for the transcript")
    return text


def convert_file(source, target, *, clean=False, paragraphs=False, timestamps=False, title=None,
                 format=None) -> None:
    """Writes the transcript of the caption file `source` to the file `target`.

    Streams, with memory bounded whatever the sizes: for transcripts too large
    to hold. `target` then holds either its old bytes or all of the new ones:
    the transcript is written under a temporary name and renamed over it when
    complete. A link, folder or other non-file at `target` is refused, never
    followed or replaced. Options as for transcript().

    Raises FileNotFoundError, IsADirectoryError, NotADirectoryError or OSError
    (with the path and the reason) when `source` cannot be read or `target`
    cannot be written; TypeError or ValueError for wrong arguments. Nothing
    is written when an argument is wrong.
    """
    source_path = _source_path(source)
    target_path = _path(target, "target")
    fmt = _format_of(format, source_path)
    style = _style(clean, paragraphs, timestamps, fmt)
    title_text = _title(title)
    _check_target(target_path)
    result = _orvane.convert_file(source_path, target_path, style, title_text, fmt)
    if result == _orvane.CONVERTED:
        return
    if result == _orvane.WRITE_FAILED:
        raise OSError(_errno.EIO, "the transcript could not be written in full; the file was "
                      "left as it was", _os.fsdecode(target_path))
    _check_readable(source_path)
    _check_target(target_path)
    directory = _os.path.dirname(target_path) or b"."
    if not _os.access(directory, _os.W_OK):
        raise PermissionError(_errno.EACCES, _os.strerror(_errno.EACCES),
                              _os.fsdecode(target_path))
    raise OSError(_errno.EIO, "the transcript could not be created", _os.fsdecode(target_path))


def cues(captions, *, format=None) -> List[Cue]:
    """Returns the cues of `captions` as the clean styles read them.

    Each Cue has `start` and `end` in seconds and its cleaned `lines`, each a
    Line with its `text` and its `speaker` (a name or None). Every cue is
    returned, repeats of rolling captions too. Arguments and exceptions as
    for transcript(); a file is read whole.
    """
    if isinstance(captions, _os.PathLike):
        path = _source_path(captions)
        fmt = _format_of(format, path)
        with open(path, "rb") as file:
            data = file.read()
    else:
        data = _content(captions)
        fmt = _format_of(format, None)
    return _orvane.cues(data, fmt, Cue, Line)


def convert_folder(folder, *, clean=False, paragraphs=False, timestamps=False, html=False,
                   all_formats=False, recursive=False, jobs=None,
                   language=None) -> List[Outcome]:
    """Converts every caption file of `folder` as orvane-convert does; returns the outcomes.

    Each .vtt file (with all_formats, each .srt and .sbv file too) gets its
    transcript beside it, headed by the course title when the folder two
    levels up has "__" in its name; with `recursive`, in every folder of the
    tree (links to folders are not followed). `jobs` files are converted at
    once (default: one per usable processor). `language` is the language tag
    of pages whose caption files tell none (default: the user's).

    Returns an Outcome per caption file, in the order orvane-convert reports
    them, and one per folder of the tree that could not be read. A file that
    fails is an outcome, not an exception. A folder without caption files
    gives an empty list. Raises FileNotFoundError, NotADirectoryError or
    PermissionError when `folder` cannot be listed; TypeError or ValueError
    for wrong arguments.
    """
    path = _folder_path(folder)
    style = _style(clean, paragraphs, timestamps, None, html or all_formats)
    events = _orvane.convert_folder(path, style, _flag(html, "html"),
                                    _flag(all_formats, "all_formats"),
                                    _flag(recursive, "recursive"), _jobs(jobs),
                                    _language(language), False)
    return _outcomes(events, path)


def _outcomes(events, root):
    """The Outcomes of a run's events, as _orvane returns them; a file's result of -1 is one
    orvane.dask could not convert."""
    outcomes = []
    for kind, folder, name, number, message in events:
        if kind == "file":
            outcomes.append(Outcome(_os.fsdecode(_os.path.join(folder, name)),
                                    _RESULTS.get(number, "not_converted"), message or None))
        elif number == _orvane.ERROR_OPENING or (number == _orvane.NO_CAPTION_FILES
                                                 and folder != root):
            outcomes.append(Outcome(_os.fsdecode(folder), "folder_failed", message))
    return outcomes


def _convert_parts(parts, style, html, all_formats, language):
    """Converts the files of `parts`, each (folder, names), as a run would.

    Used by orvane.dask on the workers; returns each part's events.
    """
    return [_orvane.convert_listed(folder, names, style, html, all_formats, 1, language)
            for folder, names in parts]


def _flag(value, name):
    if not isinstance(value, bool):
        raise TypeError(f"{name} must be True or False, not {type(value).__name__}")
    return value


def _style(clean, paragraphs, timestamps, fmt, implied=False):
    """The style's number; SubRip and SBV, like `implied`, imply clean."""
    if _flag(timestamps, "timestamps"):
        return 3
    if _flag(paragraphs, "paragraphs"):
        return 2
    if _flag(clean, "clean") or implied or (fmt is not None and fmt > 0):
        return 1
    return 0


def _format_of(format, path):
    """The format's number; -1 for a file's extension to tell, as orvane-convert reads files."""
    if format is None:
        if path is None:
            return 0
        extension = _os.path.splitext(path)[1].lower()
        return {b".srt": 1, b".sbv": 2}.get(extension, 0)
    if not isinstance(format, str):
        raise TypeError(f"format must be a str, not {type(format).__name__}")
    if format not in _FORMATS:
        raise ValueError(f"format must be 'vtt', 'srt' or 'sbv', not {format!r}")
    return _FORMATS[format]


def _title(title):
    if title is None:
        return ""
    if not isinstance(title, str):
        raise TypeError(f"title must be a str or None, not {type(title).__name__}")
    return title


def _language(language):
    if language is None:
        return _orvane.user_language()
    if not isinstance(language, str):
        raise TypeError(f"language must be a str or None, not {type(language).__name__}")
    if not _orvane.language_tag(language):
        raise ValueError(f"not a language tag: {language!r}")
    return language


def _jobs(jobs):
    if jobs is None:
        try:
            return max(1, min(len(_os.sched_getaffinity(0)), _MAX_JOBS))
        except AttributeError:
            return max(1, min(_os.cpu_count() or 1, _MAX_JOBS))
    if isinstance(jobs, bool) or not isinstance(jobs, int):
        raise TypeError(f"jobs must be an int or None, not {type(jobs).__name__}")
    if not 1 <= jobs <= _MAX_JOBS:
        raise ValueError(f"jobs must be from 1 to {_MAX_JOBS}, not {jobs}")
    return jobs


def _content(captions):
    """Caption content as a buffer of bytes."""
    if isinstance(captions, str):
        return captions.encode("utf-8", "surrogateescape")
    if isinstance(captions, (bytes, bytearray)):
        return captions
    if isinstance(captions, memoryview):
        return captions if captions.contiguous and captions.itemsize == 1 else captions.tobytes()
    raise TypeError("captions must be bytes, str (caption content) or os.PathLike (a caption "
                    f"file), not {type(captions).__name__}")


def _path(value, what):
    """A path argument as bytes, as the system takes it."""
    if isinstance(value, (str, bytes, _os.PathLike)):
        path = _os.fsencode(value)
        if not path:
            raise ValueError(f"{what} must not be empty")
        if b"\0" in path:
            raise ValueError(f"{what} must not hold a NUL character")
        return path
    raise TypeError(f"{what} must be a path (str, bytes or os.PathLike), not "
                    f"{type(value).__name__}")


def _source_path(source):
    """The path of a caption file to read; raises when it is no file that can be read."""
    path = _path(source, "source")
    mode = _os.stat(path).st_mode
    if _stat.S_ISDIR(mode):
        raise IsADirectoryError(_errno.EISDIR, _os.strerror(_errno.EISDIR), _os.fsdecode(path))
    return path


def _check_readable(path):
    """Raises the system's reason why the caption file `path` cannot be read, if it tells one."""
    _source_path(path)
    with open(path, "rb") as file:
        file.read(1)


def _raise_read_error(path):
    """Raises an OSError telling why the caption file `path` could not be read."""
    _check_readable(path)
    raise OSError(_errno.EIO, "the caption file could not be read", _os.fsdecode(path))


def _check_target(path):
    """Raises when a transcript cannot be written at `path`: never a link or a non-file."""
    name = _os.fsdecode(path)
    directory = _os.path.dirname(path) or b"."
    try:
        mode = _os.stat(directory).st_mode
    except FileNotFoundError:
        raise FileNotFoundError(_errno.ENOENT, "the folder of the transcript does not exist",
                                name) from None
    if not _stat.S_ISDIR(mode):
        raise NotADirectoryError(_errno.ENOTDIR, _os.strerror(_errno.ENOTDIR), name)
    try:
        mode = _os.lstat(path).st_mode
    except FileNotFoundError:
        return
    if _stat.S_ISLNK(mode):
        raise OSError(_errno.ELOOP, "a link, which is never written through", name)
    if _stat.S_ISDIR(mode):
        raise IsADirectoryError(_errno.EISDIR, _os.strerror(_errno.EISDIR), name)
    if not _stat.S_ISREG(mode):
        raise OSError(_errno.EINVAL, "not a regular file, which is never replaced", name)


def _folder_path(folder):
    """The path of a folder to convert; raises when it cannot be listed."""
    path = _path(folder, "folder")
    if not _stat.S_ISDIR(_os.stat(path).st_mode):
        raise NotADirectoryError(_errno.ENOTDIR, _os.strerror(_errno.ENOTDIR), _os.fsdecode(path))
    with _os.scandir(path):
        pass
    return path
