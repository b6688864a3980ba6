"""The exchanges of a deduplication on a cluster: Dask's own P2P shuffle, on one payload per sender and destination.

Every sending step gives a row: a numpy object array of shape (1, width), one
payload per destination (None where it sends nothing). The rows of all
senders stack into a dask array of one row per chunk, and Dask's P2P rechunk
turns it into one column per chunk: each destination's payloads from every
sender. The workers send one another the payloads themselves, buffered on
their disks, and the scheduler sees a task per sender and per destination
and one barrier: never a record, never a task per (sender, destination)
pair, and no payload piles up in a worker's memory waiting for the others.
"""
from __future__ import annotations

import weakref
from collections.abc import Callable, Sequence
from typing import Any


#: Priorities of the steps, highest first: splitting a step's result, so that each part goes when used
#: (SPLIT); taking what a column holds as soon as it is made (TAKE); sending rows (SEND); the shards' own
#: steps (0). A worker's memory then holds few rows and columns at a time.
SPLIT, TAKE, SEND = 30, 20, 10


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

    def exchange(self, rows: Sequence[Any], width: int) -> list[Any]:
        """From the futures of `rows` (each a (1, width) object array), the `width` columns' futures."""
        # From the module that defines them: dask.array does not re-export them for a strict type checker.
        from dask.array import core as arrays
        from dask.delayed import delayed

        from_delayed: Any = arrays.from_delayed
        concatenate: Any = arrays.concatenate
        blocks = [from_delayed(delayed(row), shape=(1, width), dtype=object) for row in rows]
        columns = concatenate(blocks, axis=0).rechunk(((len(rows),), (1,) * width), method="p2p")
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
