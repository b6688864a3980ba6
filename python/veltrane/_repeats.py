"""`repeats`: the repeated fragments people act on, with lengths, maximality, savings and a compact result."""
from __future__ import annotations

from collections.abc import Iterator, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Literal, TypeVar, Union, overload

from . import _engine

if TYPE_CHECKING:
    from ._types import Bytes

__all__ = ["LeftOut", "Repeat", "Repeats", "repeats"]

Rank = Literal["savings", "coverage"]
Unit = Literal["bytes", "code points"]


@dataclass(frozen=True)
class Repeat:
    """One repeated fragment: `count` non-overlapping occurrences of `length` elements.

    `score` is what the rank orders by: the elements saved by storing the
    fragment once ((count - 1) * length) or those its occurrences cover
    (count * length). `starts` holds the first stored starts, ascending;
    `truncated` says that `max_starts` kept fewer than `count` of them.
    """

    length: int
    count: int
    score: int
    first: int
    starts: tuple[int, ...]
    truncated: bool


@dataclass(frozen=True)
class LeftOut:
    """Candidates the search left out, by the reason it found first.

    A candidate is a fragment within the length bounds that occurs at least
    `min_count` times, overlapping occurrences included. The counts cover the
    candidates ranked above the last fragment reported (some below it too);
    those passed over for sharing positions with a reported fragment are not
    counted.
    """

    few_non_overlapping: int  # fewer than min_count non-overlapping occurrences
    periodic: int  # smallest period at most half the length (runs of one value, (ab)...)
    low_entropy: int  # below min_entropy
    not_maximal: int  # an extension by one element has as many occurrences

    @classmethod
    def from_columns(cls, columns: dict[str, object]) -> LeftOut:
        """The counts as the engine's searches return them, beside their columns."""
        return cls(*(int(columns[name]) for name in  # type: ignore[call-overload]
                     ("few_non_overlapping", "periodic", "low_entropy", "not_maximal")))


def u64_column(columns: dict[str, object], name: str) -> memoryview:
    """One of the engine's columns (native bytes) as a memoryview of format "Q"."""
    return memoryview(columns[name]).cast("Q")  # type: ignore[arg-type]


T = TypeVar("T")


class RankedColumns(Sequence[T]):
    """A sequence of fragments kept as columns: item i is made on demand by `_item(i)`."""

    lengths: memoryview

    def _item(self, i: int) -> T:
        raise NotImplementedError

    def __len__(self) -> int:
        return len(self.lengths)

    @overload
    def __getitem__(self, index: int) -> T: ...
    @overload
    def __getitem__(self, index: slice) -> list[T]: ...

    def __getitem__(self, index: Union[int, slice]) -> Union[T, list[T]]:
        if isinstance(index, slice):
            return [self[i] for i in range(*index.indices(len(self)))]
        return self._item(range(len(self))[index])  # negative indexes, and IndexError past the end

    def __iter__(self) -> Iterator[T]:
        return (self._item(i) for i in range(len(self)))


class Repeats(RankedColumns[Repeat]):
    """The fragments in rank order, and their columns as unsigned 64-bit buffers.

    `lengths`, `counts`, `scores`, `firsts`, `offsets` (one more than there are
    fragments) and `starts` are memoryviews of format "Q" that numpy wraps
    without copying (`numpy.asarray(result.starts)`): fragment i's stored starts
    are `starts[offsets[i]:offsets[i + 1]]`. Positions count `unit`.
    """

    def __init__(self, columns: dict[str, object], unit: Unit) -> None:
        self.lengths, self.counts = u64_column(columns, "lengths"), u64_column(columns, "counts")
        self.scores, self.firsts = u64_column(columns, "scores"), u64_column(columns, "firsts")
        self.offsets, self.starts = u64_column(columns, "offsets"), u64_column(columns, "starts")
        self._truncated = memoryview(columns["truncated"])  # type: ignore[arg-type]
        self._columns = columns
        self.left_out = LeftOut.from_columns(columns)
        self.unit: Unit = unit

    def _item(self, i: int) -> Repeat:
        return Repeat(self.lengths[i], self.counts[i], self.scores[i], self.firsts[i],
                      tuple(self.starts[self.offsets[i] : self.offsets[i + 1]]), bool(self._truncated[i]))

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Repeats):
            return NotImplemented
        return list(self) == list(other) and (self.left_out, self.unit) == (other.left_out, other.unit)

    def __reduce__(self) -> tuple[type[Repeats], tuple[dict[str, object], Unit]]:
        # The engine's bytes travel; the views over them are made again on arrival.
        return Repeats, (self._columns, self.unit)

    def __repr__(self) -> str:
        return f"Repeats({list(self)!r}, left_out={self.left_out!r}, unit={self.unit!r})"

    def to_records(self) -> list[dict[str, object]]:
        """The list-of-dicts form of `strings_frag.find_non_overlapping_fragments`:
        [{"id": i, "occurrences": [{"start": s, "end": s + length}, ...]}, ...], with the stored starts."""
        return [{"id": i, "occurrences": [{"start": s, "end": s + r.length} for s in r.starts]}
                for i, r in enumerate(self)]


def repeats(
    data: Bytes,
    *,
    top: Union[int, None] = 20,
    min_count: int = 2,
    min_length: int = 4,
    max_length: Union[int, None] = None,
    rank: Rank = "savings",
    maximal: bool = True,
    exclude_periodic: bool = True,
    min_entropy: Union[float, None] = None,
    non_overlap: bool = True,
    max_starts: Union[int, None] = None,
    text: Union[bool, None] = None,
) -> Repeats:
    """The fragments of `data` that repeat, best first, as people act on them.

    A fragment qualifies when its length lies in [`min_length`, `max_length`]
    and it occurs at least `min_count` times without overlapping itself
    (occurrences chosen greedily from the left), and, with `maximal`, when no
    extension by one element on either side has as many such occurrences; with
    `exclude_periodic`, when its smallest period is more than half its length
    (runs of one value and "abab..." are left out, "ab" stays); with
    `min_entropy`, when the Shannon entropy of its own elements reaches that
    many bits per element. Fragments are ranked by `rank`: "savings", the
    elements a compressor saves by storing the fragment once ((count - 1) *
    length, then length, then count), or "coverage", the elements its
    occurrences cover (count * length, ...), the order of
    `strings_frag.find_non_overlapping_fragments`; ties go to the earlier first
    occurrence. At most `top` are kept (None: all); with `non_overlap` a
    fragment that shares a position with one kept before it is left out whole.
    `max_starts` stores at most that many starts per fragment (counts stay exact).

    Elements are bytes (any buffer, read as its raw bytes), or code points when
    `text` is true (bytes are then decoded as UTF-8); by default a str is
    searched in code points and anything else in bytes.
    """
    # The engine takes unsigned numbers (and checks the rest of each domain itself).
    for name, value in (("top", top), ("min_count", min_count), ("min_length", min_length),
                        ("max_length", max_length), ("max_starts", max_starts)):
        if value is not None and value < 0:
            raise ValueError(f"{name} must not be negative, not {value}")
    as_text = isinstance(data, str) if text is None else text
    searched: Bytes
    if as_text and not isinstance(data, str):
        with memoryview(data) as view:
            searched = str(view.cast("B") if view.c_contiguous else view.tobytes(), "utf-8")
    elif not as_text and isinstance(data, str):
        searched = data.encode("utf-8")
    else:
        searched = data
    columns = _engine.repeats(searched, as_text, top, min_count, min_length, max_length, rank, maximal,
                              exclude_periodic, min_entropy, non_overlap, max_starts)
    return Repeats(columns, "code points" if as_text else "bytes")
