"""The repeated-fragment search."""
from __future__ import annotations

from typing import TYPE_CHECKING, TypedDict

from _veltrane import strings_frag as _native_module

from ._native import call

if TYPE_CHECKING:
    from ._types import Data

__all__ = ["Interval", "FragmentDict", "find_non_overlapping_fragments"]


class Interval(TypedDict):
    """One occurrence: positions ``start`` (inclusive) to ``end`` (exclusive)."""

    start: int
    end: int


class FragmentDict(TypedDict):
    """A fragment as the search returns it: its rank and its occurrences, leftmost first."""

    id: int
    occurrences: list[Interval]


def find_non_overlapping_fragments(
    data: Data, count: int, times: int, global_non_overlap: bool
) -> list[FragmentDict]:
    """The best `count` contiguous fragments that occur at least `times` times without overlapping.

    Occurrences of one fragment are picked greedily from the left. Fragments are
    ranked by the number of elements their occurrences cover, then by their
    length, then by their occurrence count (all descending); fragments equal in
    all three come in the order of their first occurrence. With
    `global_non_overlap`, a fragment that shares any position with a fragment
    ranked above it is left out whole.

    A ``str`` is searched in code points, anything else in bytes; the result
    holds positions only, so slice your own data to see a fragment.
    """
    def search(value: Data) -> list[FragmentDict]:
        return _native_module.find_non_overlapping_fragments(value, count, times, global_non_overlap)

    return call(search, data)
