import os
from typing import List, NamedTuple, Optional, Union

_Captions = Union[bytes, bytearray, memoryview, str, os.PathLike[str], os.PathLike[bytes]]
_Path = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]

__version__: str

class Line(NamedTuple):
    text: str
    speaker: Optional[str]

class Cue(NamedTuple):
    start: float
    end: float
    lines: List[Line]

class Outcome(NamedTuple):
    path: str
    result: str
    message: Optional[str]
    @property
    def ok(self) -> bool: ...

def transcript(
    captions: _Captions,
    *,
    clean: bool = ...,
    paragraphs: bool = ...,
    timestamps: bool = ...,
    title: Optional[str] = ...,
    format: Optional[str] = ...,
) -> bytes: ...
def convert_file(
    source: _Path,
    target: _Path,
    *,
    clean: bool = ...,
    paragraphs: bool = ...,
    timestamps: bool = ...,
    title: Optional[str] = ...,
    format: Optional[str] = ...,
) -> None: ...
def cues(captions: _Captions, *, format: Optional[str] = ...) -> List[Cue]: ...
def convert_folder(
    folder: _Path,
    *,
    clean: bool = ...,
    paragraphs: bool = ...,
    timestamps: bool = ...,
    html: bool = ...,
    all_formats: bool = ...,
    recursive: bool = ...,
    jobs: Optional[int] = ...,
    language: Optional[str] = ...,
) -> List[Outcome]: ...
