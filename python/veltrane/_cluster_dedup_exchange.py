"""The exchanges of a deduplication on a cluster: Dask's own P2P shuffle, on one payload per sender and destination.

Every sending step gives a row: a numpy object array of shape (1, width), one
payload per destination (None where it sends nothing). The rows of all
senders stack into a dask array of one row per chunk, and Dask's P2P rechunk
turns it into one column per chunk: each destination's payloads from every
sender. The workers send one another the payloads themselves, buffered on
their disks, and the scheduler sees a task per sender and per destination
and one barrier: never a record, never a task per (sender, destination)
pair, and no payload piles up in a worker's memory waiting for the others.

Each shard's steps run on one worker (its home, while it lives), where the
scratch copy of its text is (_cluster_dedup_text.py).
"""
from __future__ import annotations

import weakref
from collections.abc import Callable, Sequence
from typing import Any, Union


#: The priority of the steps that let a large result go (the others have 0).
URGENT = 10


def homes(sizes: Sequence[int], workers: Sequence[str]) -> list[str]:
    """A worker for each shard: runs of consecutive shards, about the same bytes for each worker."""
    if not workers:
        return []
    total = max(1, sum(sizes))
    out, done = [], 0
    for size in sizes:
        # The worker whose share holds the shard's middle byte.
        out.append(workers[min(len(workers) - 1, (2 * done + size) * len(workers) // (2 * total))])
        done += size
    return out


class Exchange:
    """Work sent on one client, to be cancelled as one.

    It knows its futures by weak references only: a future held keeps its
    result in a worker's memory, and each result should go as soon as the
    steps that take it are done.
    """

    def __init__(self, client: Any) -> None:
        self.client = client
        self._sent: list[weakref.ref[Any]] = []
        self.homes: list[str] = []

    def _keep(self, futures: Sequence[Any]) -> None:
        if len(self._sent) > 4096:
            self._sent = [ref for ref in self._sent if ref() is not None]
        self._sent.extend(weakref.ref(future) for future in futures)

    def submit(self, function: Callable[..., Any], *args: Any, shard: Union[int, None] = None,
               urgent: bool = False) -> Any:
        """`function(*args)` on the cluster; a shard's step goes to the shard's home while it lives.

        An `urgent` step (one that lets a large result go) runs before the steps waiting.
        """
        where: dict[str, Any] = {}
        if shard is not None and shard < len(self.homes):
            where = {"workers": [self.homes[shard]], "allow_other_workers": True}
        future = self.client.submit(function, *args, pure=False, priority=URGENT if urgent else 0, **where)
        self._keep([future])
        return future

    def exchange(self, rows: Sequence[Any], width: int) -> list[Any]:
        """From the futures of `rows` (each a (1, width) object array), the `width` columns' futures."""
        import dask.array
        from dask.delayed import delayed

        from_delayed: Any = dask.array.from_delayed
        concatenate: Any = dask.array.concatenate
        blocks = [from_delayed(delayed(row), shape=(1, width), dtype=object) for row in rows]
        columns = concatenate(blocks, axis=0).rechunk(((len(rows),), (1,) * width), method="p2p")
        # Sending a row lets it go: that comes before the next shard's step makes another.
        futures: list[Any] = self.client.compute(list(columns.to_delayed().ravel()), priority=URGENT)
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
