from typing import List, Optional

import dask.bag
from distributed import Client

from orvane import Outcome, _Path

def convert_tree(
    folder: _Path,
    *,
    client: Optional[Client] = ...,
    clean: bool = ...,
    paragraphs: bool = ...,
    timestamps: bool = ...,
    html: bool = ...,
    all_formats: bool = ...,
    recursive: bool = ...,
    language: Optional[str] = ...,
    partition_files: Optional[int] = ...,
    retries: int = ...,
) -> List[Outcome]: ...
def transcripts(
    bag: dask.bag.Bag,
    *,
    clean: bool = ...,
    paragraphs: bool = ...,
    timestamps: bool = ...,
    title: Optional[str] = ...,
    format: Optional[str] = ...,
) -> dask.bag.Bag: ...
def cue_records(bag: dask.bag.Bag, *, format: Optional[str] = ...) -> dask.bag.Bag: ...
