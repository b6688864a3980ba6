"""`scan`: every measure and the top repeated fragments of one input, as a typed result."""
from __future__ import annotations

import mmap
import os
import stat
from collections.abc import Iterator
from contextlib import contextmanager
from dataclasses import dataclass
from typing import IO, TYPE_CHECKING, Literal, Union

from . import min_entropy, shannon_entropy, strings_frag

if TYPE_CHECKING:
    from ._types import Data

__all__ = ["Fragment", "ScanResult", "scan", "mapped", "mapped_file"]

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
    """The four measures of some data and its top repeated fragments.

    `size` is the number of bytes measured (a str is measured over its UTF-8
    bytes); `fragments` is empty when the search was not asked for.
    """

    size: int
    shannon_entropy: float
    metric_entropy: float
    normalized_entropy: float
    min_entropy: float
    fragments: tuple[Fragment, ...]
    unit: Unit


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


def _byte_size(data: Data) -> int:
    if isinstance(data, str):
        return len(data.encode("utf-8", "surrogatepass"))
    try:
        with memoryview(data) as view:  # type: ignore[arg-type]
            return view.nbytes
    except TypeError:
        return len(data)  # type: ignore[arg-type]


def _as_text(data: Data) -> str:
    if isinstance(data, str):
        return data
    try:
        with memoryview(data) as view:  # type: ignore[arg-type]
            return str(view.cast("B"), "utf-8")
    except TypeError:
        return bytes(data).decode("utf-8")


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
    data: Data, *, fragments: int = 5, times: int = 2, global_non_overlap: bool = False, text: bool | None = None
) -> tuple[ScanResult, Data]:
    """`scan` on data already in memory; also returns what the search ran on (for previews)."""
    if fragments < 0:
        raise ValueError("fragments must be 0 or more")
    if times < 1:
        raise ValueError("times must be 1 or more")
    as_text = isinstance(data, str) if text is None else text
    searched: Data
    if as_text:
        searched = _as_text(data)
    elif isinstance(data, str):
        searched = data.encode("utf-8")
    else:
        searched = data
    found: tuple[Fragment, ...] = ()
    if fragments:
        found = _fragments(strings_frag.find_non_overlapping_fragments(searched, fragments, times, global_non_overlap))
    result = ScanResult(
        size=_byte_size(data),
        shannon_entropy=shannon_entropy.measure_entropy(data),
        metric_entropy=shannon_entropy.measure_metric_entropy(data),
        normalized_entropy=shannon_entropy.measure_normalized_metric_entropy(data),
        min_entropy=min_entropy.measure_entropy(data),
        fragments=found,
        unit="code points" if as_text else "bytes",
    )
    return result, searched


def scan(
    data: Union[Data, os.PathLike[str]],
    *,
    fragments: int = 5,
    times: int = 2,
    global_non_overlap: bool = False,
    text: bool | None = None,
) -> ScanResult:
    """All four measures of `data` and its `fragments` best repeated fragments.

    `data` is a str, bytes, bytearray, memoryview, mmap, numpy uint8 array, a
    sequence of integers 0..255, or a path given as an `os.PathLike` (a
    `pathlib.Path`; a plain str is data, not a file name). Files are
    memory-mapped, never read into Python objects byte by byte.

    The fragment search runs in code points when `text` is true (bytes and
    files are decoded as UTF-8, raising `UnicodeDecodeError` if they are not
    valid) and in bytes when it is false; by default a str is searched as
    text and everything else as bytes. `fragments=0` skips the search. The
    measures are always taken over bytes (a str over its UTF-8 bytes).
    """
    if isinstance(data, os.PathLike):
        with mapped(data) as content:
            return scan_data(
                content, fragments=fragments, times=times, global_non_overlap=global_non_overlap, text=text
            )[0]
    return scan_data(data, fragments=fragments, times=times, global_non_overlap=global_non_overlap, text=text)[0]
