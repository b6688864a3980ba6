"""The exchanges of a deduplication on a cluster: Dask's own P2P shuffle, on one payload per sender and destination.

Every sending step gives a row: a numpy object array of shape (1, width), one
payload per destination (None where it sends nothing). The rows of all
senders stack into a dask array of one row per chunk, and Dask's P2P rechunk
turns it into one column per chunk: each destination's payloads from every
sender. The workers send one another the payloads themselves, buffered on
their disks, and the scheduler sees a task per sender and per destination
and one barrier: never a record, never a task per (sender, destination)
pair, and no payload piles up in a worker's memory waiting for the others.

The rechunk still handles each (sender, destination) cell in Python, some
65 us apiece, which grows with the square of the shards. An exchange of many
cells therefore goes in two rechunks: first into blocks of about sqrt(width)
rows by width / sqrt(width) columns (each about one row's payloads), then
into columns. The slices the rechunks cut are then 2 * senders * sqrt(width)
rather than senders * width (800 x 800 cells: 14 s instead of 42), but every
payload byte moves twice, at some 6 ns of a worker per byte: two rechunks
are chosen when the cells cost more than moving the bytes again
(bench/bench_cluster_exchange.py measures both).
"""
from __future__ import annotations

import math
import weakref
from collections.abc import Callable, Sequence
from typing import Any


#: Priorities of the steps, highest first: splitting a step's result, so that each part goes when used
#: (SPLIT); taking what a column holds as soon as it is made (TAKE); sending rows (SEND); the shards' own
#: steps (0). A worker's memory then holds few rows and columns at a time.
SPLIT, TAKE, SEND = 30, 20, 10

#: A cell of one rechunk costs a worker about as much as moving this many bytes once more.
BYTES_PER_CELL = 10_000
#: Fewer cells than this always go in one rechunk: a second one's tasks would cost more than it saves.
TWO_STAGES = 1 << 14
#: An exchange carries about this share of the corpus (an eighth: 1.25 bytes per corpus byte measured over
#: the 20 exchanges of a 500 MB run on two workers, which keep half of each to themselves).
EXCHANGED_SHARE = 8


def two_rechunks(senders: int, width: int, volume: int) -> bool:
    """Whether an exchange of senders x width cells carrying about `volume` bytes goes in two rechunks."""
    cells = senders * width
    return cells >= TWO_STAGES and cells * BYTES_PER_CELL > volume


def blocks(total: int, size: int) -> tuple[int, ...]:
    """`total` cut into chunks of `size` (the last one shorter), as dask spells an axis's chunks."""
    return (size,) * (total // size) + ((total % size,) if total % size else ())


class Exchange:
    """Work sent on one client, to be cancelled as one.

    It knows its futures by weak references only: a future held keeps its
    result in a worker's memory, and each result should go as soon as the
    steps that take it are done.
    """

    def __init__(self, client: Any) -> None:
        self.client = client
        self._sent: list[weakref.ref[Any]] = []

    def _keep(self, futures: Sequence[Any]) -> None:
        if len(self._sent) > 4096:
            self._sent = [ref for ref in self._sent if ref() is not None]
        self._sent.extend(weakref.ref(future) for future in futures)

    def submit(self, function: Callable[..., Any], *args: Any, priority: int = 0) -> Any:
        """`function(*args)` on the cluster; of the steps ready, those of higher `priority` run first."""
        future = self.client.submit(function, *args, pure=False, priority=priority)
        self._keep([future])
        return future

    def exchange(self, rows: Sequence[Any], width: int, volume: int = 0) -> list[Any]:
        """From the futures of `rows` (each a (1, width) object array), the `width` columns' futures.

        `volume`: about how many bytes the payloads hold, for the choice of one rechunk or two.
        """
        # From the module that defines them: dask.array does not re-export them for a strict type checker.
        from dask.array import core as arrays
        from dask.delayed import delayed

        from_delayed: Any = arrays.from_delayed
        concatenate: Any = arrays.concatenate
        stacked = concatenate([from_delayed(delayed(row), shape=(1, width), dtype=object) for row in rows], axis=0)
        if two_rechunks(len(rows), width, volume):
            side = math.isqrt(width - 1) + 1
            stacked = stacked.rechunk((blocks(len(rows), side), blocks(width, -(-width // side))), method="p2p")
        columns = stacked.rechunk(((len(rows),), (1,) * width), method="p2p")
        # Sending a row lets it go: that comes before the next shard's step makes another.
        futures: list[Any] = self.client.compute(list(columns.to_delayed().ravel()), priority=SEND)
        self._keep(futures)
        return futures

    def cancel(self) -> None:
        """Cancels whatever is still held and not done."""
        running = [future for future in (ref() for ref in self._sent) if future is not None and not future.done()]
        try:
            if running:
                self.client.cancel(running)
        except Exception:  # noqa: BLE001 - a client already gone has nothing left to cancel
            pass
        self._sent.clear()
