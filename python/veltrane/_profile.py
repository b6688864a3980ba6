"""Entropy along some data, window by window, with its rising and falling edges."""
from __future__ import annotations

import array
from collections.abc import Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Literal

from . import _engine

if TYPE_CHECKING:
    from ._types import Bytes

__all__ = ["Edge", "Profile", "entropy_profile", "find_edges", "MEASURES"]

Measure = Literal["metric", "normalized"]

#: The per-window measures a profile can use, both on a 0..1 scale: H / 8, and H
#: over what random data of the window's length scores.
MEASURES = ("metric", "normalized")


@dataclass(frozen=True)
class Edge:
    """Where the profile crossed a threshold: `offset` is the start of the first window past it."""

    offset: int
    direction: Literal["rising", "falling"]
    value: float


@dataclass(frozen=True)
class Profile:
    """The measure of every window and what the hysteresis made of it.

    `regions` are the stretches between a rising edge and the next falling edge
    (or the end of the data): the likely compressed or encrypted parts.
    """

    size: int
    window: int
    step: int
    measure: Measure
    high: float
    low: float
    #: Window starts (unsigned 64-bit) and their values (doubles), as compact arrays.
    offsets: array.array[int]
    values: array.array[float]
    edges: tuple[Edge, ...]
    regions: tuple[tuple[int, int], ...]


def find_edges(offsets: Sequence[int], values: Sequence[float], high: float, low: float) -> list[Edge]:
    """Rising and falling edges, with hysteresis.

    The profile starts low. A window at or above `high` after a low stretch is a
    rising edge; a window below `low` after a high stretch is a falling edge.
    Values between the two thresholds never switch the state, so noise around
    one threshold does not produce a burst of edges.
    """
    if not low <= high:
        raise ValueError("the low threshold must not exceed the high one")
    edges: list[Edge] = []
    is_high = False
    for offset, value in zip(offsets, values):
        if not is_high and value >= high:
            edges.append(Edge(offset, "rising", value))
            is_high = True
        elif is_high and value < low:
            edges.append(Edge(offset, "falling", value))
            is_high = False
    return edges


def _regions(edges: Sequence[Edge], size: int) -> list[tuple[int, int]]:
    regions: list[tuple[int, int]] = []
    start: int | None = None
    for edge in edges:
        if edge.direction == "rising":
            start = edge.offset
        elif start is not None:
            regions.append((start, edge.offset))
            start = None
    if start is not None:
        regions.append((start, size))
    return regions


def entropy_profile(
    data: Bytes,
    window: int,
    step: int | None = None,
    *,
    high: float = 0.95,
    low: float = 0.85,
    measure: Measure = "metric",
) -> Profile:
    """The entropy of the bytes of `data` in windows of `window` bytes every `step` bytes (default: `window`).

    `measure` is "metric" (H/8) or "normalized" (H over what random data of the
    window's length would score; better for small windows, where even random
    bytes stay well below 8 bits per byte). `high` and `low` are the hysteresis
    thresholds on that 0..1 scale; see `find_edges`.
    """
    step = window if step is None else step
    if measure not in MEASURES:
        raise ValueError(f"measure must be one of {', '.join(MEASURES)}, not {measure!r}")
    if window <= 0 or step <= 0:
        raise ValueError("window and step must be positive")
    # One engine call measures every window; the size comes from its answer too.
    size, raw_offsets, raw_values = _engine.profile(data, window, step, measure == "normalized")
    offsets, values = array.array("Q"), array.array("d")
    offsets.frombytes(raw_offsets)
    values.frombytes(raw_values)
    edges = find_edges(offsets, values, high, low)
    return Profile(
        size=size,
        window=window,
        step=step,
        measure=measure,
        high=high,
        low=low,
        offsets=offsets,
        values=values,
        edges=tuple(edges),
        regions=tuple(_regions(edges, size)),
    )
