"""`scan`: every measure and the top repeated fragments of one input, as a typed result."""
from __future__ import annotations

import mmap
import os
import stat
from collections.abc import Iterator
from contextlib import contextmanager
from dataclasses import dataclass
from typing import IO, TYPE_CHECKING, Literal, Union

from . import strings_frag
from ._measures import Measures, measure

if TYPE_CHECKING:
    from ._types import Bytes

__all__ = ["Fragment", "ScanResult", "scan", "mapped", "mapped_file", "byte_view"]

Unit = Literal["bytes", "code points"]


@dataclass(frozen=True)
class Fragment:
    """A repeated fragment: its rank, its length and where it occurs.

    Positions are in the unit of the scan (`ScanResult.unit`): bytes, or code
    points when the data was searched as text.
    """

    id: int
    length: int
    occurrences: tuple[tuple[int, int], ...]

    @property
    def count(self) -> int:
        """How many non-overlapping occurrences the search kept."""
        return len(self.occurrences)

    @property
    def starts(self) -> tuple[int, ...]:
        """The start of every occurrence, leftmost first."""
        return tuple(start for start, _ in self.occurrences)


@dataclass(frozen=True)
class ScanResult:
    """The randomness figures of some data and its top repeated fragments.

    `measures` holds every figure of the bytes (a str is measured over its
    UTF-8 bytes); the four most asked for are also properties of the result.
    `fragments` is empty when the search was not asked for.
    """

    measures: Measures
    fragments: tuple[Fragment, ...]
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


@contextmanager
def mapped_file(handle: IO[bytes]) -> Iterator[Union[memoryview, bytes]]:
    """The whole content of an open file, memory-mapped when it is a regular, non-empty file.

    A map is read by the native module straight from its buffer, so a file of
    any size costs no Python object per byte. Pipes, terminals and empty files
    (which cannot be mapped) are read whole instead.
    """
    fd = handle.fileno()
    info = os.fstat(fd)
    at_start = True
    try:
        at_start = os.lseek(fd, 0, os.SEEK_CUR) == 0
    except OSError:
        pass  # not seekable: a pipe, read below
    if not (stat.S_ISREG(info.st_mode) and info.st_size > 0 and at_start):
        yield handle.read()
        return
    with mmap.mmap(fd, 0, access=mmap.ACCESS_READ) as mapping:
        if hasattr(mapping, "madvise") and hasattr(mmap, "MADV_SEQUENTIAL"):
            mapping.madvise(mmap.MADV_SEQUENTIAL)
        with memoryview(mapping) as view:
            yield view


@contextmanager
def mapped(path: Union[str, os.PathLike[str]]) -> Iterator[Union[memoryview, bytes]]:
    """The content of the file at `path`; see `mapped_file`."""
    with open(path, "rb") as handle, mapped_file(handle) as content:
        yield content


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


def _fragments(result: list[strings_frag.FragmentDict]) -> tuple[Fragment, ...]:
    return tuple(
        Fragment(
            id=entry["id"],
            length=entry["occurrences"][0]["end"] - entry["occurrences"][0]["start"] if entry["occurrences"] else 0,
            occurrences=tuple((o["start"], o["end"]) for o in entry["occurrences"]),
        )
        for entry in result
    )


def scan_data(
    data: Bytes, *, fragments: int = 5, times: int = 2, global_non_overlap: bool = False, text: bool | None = None,
    bits: bool = False,
) -> tuple[ScanResult, Union[str, memoryview]]:
    """`scan` on data already in memory; also returns what the search ran on (for previews)."""
    if fragments < 0:
        raise ValueError("fragments must be 0 or more")
    if times < 1:
        raise ValueError("times must be 1 or more")
    measures = measure(data, bits=bits)  # one pass: every figure, and the engine's check of what `data` is
    as_text = isinstance(data, str) if text is None else text
    searched: Union[str, memoryview]
    if isinstance(data, str):
        searched = data if as_text else memoryview(data.encode("utf-8"))
    else:
        searched = byte_view(data)
        if as_text:
            with searched:
                searched = str(searched, "utf-8")
    found: tuple[Fragment, ...] = ()
    if fragments:
        found = _fragments(strings_frag.find_non_overlapping_fragments(searched, fragments, times, global_non_overlap))
    result = ScanResult(measures=measures, fragments=found, unit="code points" if as_text else "bytes")
    return result, searched


def scan(
    data: Union[Bytes, os.PathLike[str]],
    *,
    fragments: int = 5,
    times: int = 2,
    global_non_overlap: bool = False,
    text: bool | None = None,
    bits: bool = False,
) -> ScanResult:
    """All four measures of `data` and its `fragments` best repeated fragments.

    `data` is any object with the buffer protocol, read as its raw bytes
    (bytes, bytearray, memoryview, mmap, array.array, numpy arrays of any
    dtype), a str, or a path given as an `os.PathLike` (a `pathlib.Path`; a
    plain str is data, not a file name). Files are memory-mapped, never read
    into Python objects byte by byte.

    The fragment search runs in code points when `text` is true (bytes and
    files are decoded as UTF-8, raising `UnicodeDecodeError` if they are not
    valid) and in bytes when it is false; by default a str is searched as
    text and everything else as bytes. `fragments=0` skips the search. The
    measures (`ScanResult.measures`, see `measure`) are always taken over
    bytes, a str over its UTF-8 bytes, in one pass; with `bits`, over its bits.
    """
    if isinstance(data, os.PathLike):
        with mapped(data) as content:
            return scan_data(content, fragments=fragments, times=times, global_non_overlap=global_non_overlap,
                             text=text, bits=bits)[0]
    return scan_data(data, fragments=fragments, times=times, global_non_overlap=global_non_overlap, text=text,
                     bits=bits)[0]
