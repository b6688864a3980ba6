"""Entropy along some data, window by window, with its rising and falling edges."""
from __future__ import annotations

from collections.abc import Callable, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Literal

from . import shannon_entropy

if TYPE_CHECKING:
    from ._types import Data

__all__ = ["Edge", "Profile", "entropy_profile", "find_edges", "window_starts", "MEASURES"]

Measure = Literal["metric", "normalized"]

#: The per-window measures a profile can use; both lie on a 0..1 scale.
MEASURES: dict[str, Callable[[Data], float]] = {
    "metric": shannon_entropy.measure_metric_entropy,
    "normalized": shannon_entropy.measure_normalized_metric_entropy,
}


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
    offsets: tuple[int, ...]
    values: tuple[float, ...]
    edges: tuple[Edge, ...]
    regions: tuple[tuple[int, int], ...]


def window_starts(size: int, window: int, step: int) -> list[int]:
    """Starts of the windows: every `step` bytes while a whole window fits, then one flush with the end.

    Every window is `window` bytes long (data shorter than one window is one
    window), so a short tail cannot look less random than it is merely because
    it is short; the last window may overlap the one before it.
    """
    if window <= 0 or step <= 0:
        raise ValueError("window and step must be positive")
    if size == 0:
        return []
    if size <= window:
        return [0]
    starts = list(range(0, size - window + 1, step))
    if starts[-1] + window < size:
        starts.append(size - window)
    return starts


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


def _byte_view(data: Data) -> memoryview:
    if isinstance(data, str):
        return memoryview(data.encode("utf-8"))
    try:
        view = memoryview(data)  # type: ignore[arg-type]
    except TypeError:
        return memoryview(bytes(data))
    if view.format != "B" or view.ndim != 1:
        with view:
            return view.cast("B")
    return view


def entropy_profile(
    data: Data,
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
    function = MEASURES[measure]
    with _byte_view(data) as whole:
        size = whole.nbytes
        offsets = window_starts(size, window, step)
        # Each slice is an exact memoryview: the native module reads it in place.
        values = [function(whole[start : start + window]) for start in offsets]
    edges = find_edges(offsets, values, high, low)
    return Profile(
        size=size,
        window=window,
        step=step,
        measure=measure,
        high=high,
        low=low,
        offsets=tuple(offsets),
        values=tuple(values),
        edges=tuple(edges),
        regions=tuple(_regions(edges, size)),
    )
