"""The shuffles of a deduplication on a cluster: Dask's own task shuffle (`dask.bag` groupby), on packed records.

Every step sends (destination, payload) elements, a few per shard: a
destination is a partition of keys or a shard, a payload one byte string of
packed records. The elements of all shards go into a bag of `width`
partitions and are grouped by destination; a partition's step runs on each
group of the bag (`map_partitions`), and what goes back to the shards is
grouped again and picked out per shard, next to where it was grouped. The
scheduler sees tasks per shard and per bag partition, never per record.
"""
from __future__ import annotations

from collections.abc import Callable, Sequence
from typing import Any

from ._cluster_dedup_shard import Elements


def destination(element: tuple[int, Any]) -> int:
    return element[0]


def concatenated(*parts: Elements) -> Elements:
    return [element for part in parts for element in part]


def by_destination(groups: Sequence[tuple[int, Sequence[tuple[int, Any]]]]) -> dict[int, list[Any]]:
    return {key: [payload for _, payload in items] for key, items in groups}


def destinations(grouped: dict[int, list[Any]]) -> list[int]:
    return sorted(grouped)


def picked(grouped: dict[int, list[Any]], key: int) -> list[Any]:
    return grouped.get(key, [])


def nothing() -> list[Any]:
    return []


class Exchange:
    """Shuffles on one client: every future it makes is kept in `futures`, to be cancelled as one."""

    def __init__(self, client: Any, width: int) -> None:
        self.client, self.width = client, max(1, width)
        self.futures: list[Any] = []

    def submit(self, function: Callable[..., Any], *args: Any, **kwargs: Any) -> Any:
        future = self.client.submit(function, *args, pure=False, **kwargs)
        self.futures.append(future)
        return future

    def bag(self, parts: Sequence[Any]) -> Any:
        """A bag of the elements in the futures `parts`, in `width` partitions."""
        # From the modules that define them: dask's packages do not re-export them for a strict type checker.
        from dask.bag.core import from_delayed
        from dask.delayed import delayed

        width = min(self.width, max(1, len(parts)))
        step = -(-len(parts) // width)
        chunks = [parts[i:i + step] for i in range(0, len(parts), step)] or [[]]
        return from_delayed(  # type: ignore[no-untyped-call,unused-ignore]
            [delayed(concatenated, pure=False)(*chunk) for chunk in chunks])

    def at_partitions(self, parts: Sequence[Any], step: Callable[..., Elements], *args: Any) -> Any:
        """The elements of `parts` grouped by destination, and `step(groups, *args)` run on each bag partition."""
        return self.bag(parts).groupby(destination, shuffle="tasks").map_partitions(step, *args)

    def to_shards(self, elements: Any, shards: int) -> list[Any]:
        """The payloads of the bag `elements` for each shard, one future each (a list of payloads)."""
        grouped = elements.groupby(destination, shuffle="tasks").map_partitions(by_destination)
        holders = self.client.compute(grouped.to_delayed(optimize_graph=False))
        self.futures.extend(holders)
        lists = self.client.gather([self.submit(destinations, holder) for holder in holders])
        where = {key: holder for holder, keys in zip(holders, lists) for key in keys}
        return [self.submit(picked, where[shard], shard) if shard in where else self.submit(nothing)
                for shard in range(shards)]

    def cancel(self) -> None:
        running = [future for future in self.futures if not future.done()]
        try:
            if running:
                self.client.cancel(running)
        except Exception:  # noqa: BLE001 - a client already gone has nothing left to cancel
            pass
        self.futures.clear()
