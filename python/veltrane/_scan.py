"""`scan`: every randomness figure and the top repeats of one input, as a typed result."""
from __future__ import annotations

import os
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Literal, Union

from ._locations import URL, open_input
from ._measures import Measures, measure
from ._repeats import Rank, Repeats, repeats

if TYPE_CHECKING:
    from ._types import Bytes

__all__ = ["ScanResult", "scan", "byte_view"]

Unit = Literal["bytes", "code points"]


@dataclass(frozen=True)
class ScanResult:
    """The randomness figures of some data and its top repeated fragments.

    `measures` holds every figure of the bytes (a str is measured over its
    UTF-8 bytes); the four most asked for are also properties of the result.
    `repeats` is None when the search was not asked for.
    """

    measures: Measures
    repeats: Union[Repeats, None]
    unit: Unit

    @property
    def size(self) -> int:
        """Bytes measured (bits, when measured in bit mode)."""
        return self.measures.size

    @property
    def shannon_entropy(self) -> float:
        return self.measures.shannon_entropy

    @property
    def metric_entropy(self) -> float:
        return self.measures.metric_entropy

    @property
    def normalized_entropy(self) -> float:
        return self.measures.normalized_entropy

    @property
    def min_entropy(self) -> float:
        return self.measures.min_entropy


def byte_view(data: Bytes) -> memoryview:
    """The raw bytes of `data` (a str's UTF-8 bytes) as a one-dimensional view of unsigned bytes.

    Contiguous buffers are viewed in place; others are copied once. A view of a
    user's object is released by the caller (`with byte_view(...) as view`).
    """
    if isinstance(data, str):
        return memoryview(data.encode("utf-8"))
    view = memoryview(data)
    if view.format == "B" and view.ndim == 1:
        return view
    with view:
        return view.cast("B") if view.c_contiguous else memoryview(view.tobytes())


def scan_data(
    data: Bytes, *, fragments: int = 5, text: Union[bool, None] = None, bits: bool = False, **options: Any
) -> tuple[ScanResult, Union[str, memoryview]]:
    """`scan` on data already in memory; also returns what the search ran on (for previews).

    `options` are those of `repeats`, `fragments` its `top`.
    """
    if fragments < 0:
        raise ValueError("fragments must be 0 or more")
    measures = measure(data, bits=bits)  # one pass: every figure, and the engine's check of what `data` is
    found, searched, unit = search_data(data, fragments=fragments, text=text, **options)
    return ScanResult(measures=measures, repeats=found, unit=unit), searched


def search_data(
    data: Bytes, *, fragments: int = 5, text: Union[bool, None] = None, **options: Any
) -> tuple[Union[Repeats, None], Union[str, memoryview], Unit]:
    """The repeats half of `scan_data`: (repeats or None, what the search ran on, the unit of positions).

    Text is decoded even when `fragments` is 0, so invalid UTF-8 fails the same way whether or not it is searched.
    """
    if fragments < 0:
        raise ValueError("fragments must be 0 or more")
    as_text = isinstance(data, str) if text is None else text
    searched: Union[str, memoryview]
    if isinstance(data, str):
        searched = data if as_text else memoryview(data.encode("utf-8"))
    else:
        searched = byte_view(data)
        if as_text:
            with searched:
                searched = str(searched, "utf-8")
    found = repeats(searched, top=fragments, text=as_text, **options) if fragments else None
    return found, searched, "code points" if as_text else "bytes"


def scan(
    data: Union[Bytes, os.PathLike[str], URL],
    *,
    fragments: int = 5,
    text: Union[bool, None] = None,
    bits: bool = False,
    min_count: int = 2,
    min_length: int = 4,
    max_length: Union[int, None] = None,
    rank: Rank = "savings",
    maximal: bool = True,
    exclude_periodic: bool = True,
    min_entropy: Union[float, None] = None,
    non_overlap: bool = True,
    max_starts: Union[int, None] = None,
) -> ScanResult:
    """Every randomness figure of `data` and its `fragments` best repeats.

    `data` is any object with the buffer protocol, read as its raw bytes
    (bytes, bytearray, memoryview, mmap, array.array, numpy arrays of any
    dtype), a str, a path given as an `os.PathLike` (a `pathlib.Path`; a
    plain str is data, not a file name) or a `veltrane.URL` (any fsspec URL:
    s3://, gs://, http(s)://, memory://...; needs `veltrane[cluster]`). Files
    are memory-mapped, never read into Python objects byte by byte.

    The measures (`ScanResult.measures`, see `measure`) are taken over the
    bytes, a str over its UTF-8 bytes, in one pass; with `bits`, over its bits.
    The repeats (`ScanResult.repeats`, see `repeats`, whose options the
    keyword arguments after `bits` are; `fragments` is its `top`, and 0 skips
    the search) are searched in code points when `text` is true (bytes and
    files are decoded as UTF-8, raising `UnicodeDecodeError` if they are not
    valid) and in bytes when it is false; by default a str is searched as text
    and everything else as bytes.
    """
    options = dict(min_count=min_count, min_length=min_length, max_length=max_length, rank=rank, maximal=maximal,
                   exclude_periodic=exclude_periodic, min_entropy=min_entropy, non_overlap=non_overlap,
                   max_starts=max_starts)
    if isinstance(data, (os.PathLike, URL)):
        with open_input(os.fspath(data) if isinstance(data, os.PathLike) else data.url) as content:
            return scan_data(content, fragments=fragments, text=text, bits=bits, **options)[0]
    return scan_data(data, fragments=fragments, text=text, bits=bits, **options)[0]
