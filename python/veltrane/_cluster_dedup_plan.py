"""Where a deduplication on a cluster cuts the corpus, and what it checks before anything runs.

The client plans from the listing alone (names and sizes as the file system
or object store states them): it never reads a corpus byte.
"""
from __future__ import annotations

import os
from collections.abc import Sequence
from typing import Union

from ._corpus_outputs import mirrored_path, refuse_overwriting
from ._corpus_sources import InputError, Source, kind_of
from ._locations import is_url

#: Bytes of inputs (as listed) per shard by default, on workers with memory to spare.
DEFAULT_SHARD_SIZE = 64 << 20
#: A step needs up to about 20 bytes of memory per byte of its shard at its peak, above the worker's own
#: 100-150 MB and what Dask's exchanges hold; a shard of 1/64 of the limit leaves room for both.
SHARD_SHARE_OF_MEMORY = 64
SMALLEST_FITTED_SHARD = 1 << 20


def fitted_shard_size(memory_limits: Sequence[Union[int, None]]) -> int:
    """The default shard size for workers of these memory limits (None or 0: no limit).

    DEFAULT_SHARD_SIZE, or less when the smallest limited worker could not run a step on that much.
    """
    limits = [limit for limit in memory_limits if limit]
    if not limits:
        return DEFAULT_SHARD_SIZE
    return max(SMALLEST_FITTED_SHARD, min(DEFAULT_SHARD_SIZE, min(limits) // SHARD_SHARE_OF_MEMORY))


def plan_shards(names: Sequence[str], sizes: Sequence[int], shard_size: int) -> list[tuple[str, ...]]:
    """Runs of consecutive inputs of at most `shard_size` listed bytes; a larger input alone."""
    shards: list[list[str]] = []
    held = 0
    for name, size in zip(names, sizes):
        if not shards or (held > 0 and held + size > shard_size):
            shards.append([])
            held = 0
        shards[-1].append(name)
        held += size
    return [tuple(shard) for shard in shards]


def check_output(out: str, names: Sequence[str], text_field: Union[str, None], roots: Sequence[str]) -> None:
    """Refuses, before anything runs, an output that would write over an input (the writer's own test)."""
    sources = []
    for name in names:
        identity = None
        if not is_url(name):
            try:
                info = os.stat(name)
                identity = (info.st_dev, info.st_ino)
            except OSError:
                pass
        sources.append(Source(name, kind_of(name, text_field), 0, 1, identity=identity))
    refuse_overwriting(out, roots, sources)


def taken_before(shards: Sequence[Sequence[Source]]) -> list[dict[str, str]]:
    """For each shard, the places under the output its inputs would share with inputs of shards before it.

    (relative path -> the name of the first input placed there), so that each
    shard's writer refuses what the one-machine writer refuses, with its words.
    """
    first: dict[str, str] = {}
    out = []
    for sources in shards:
        places = []
        for source in sources:
            try:
                places.append((mirrored_path(source.name), source.name))
            except InputError:
                continue  # the shard's writer reports it
        out.append({place: first[place] for place, _ in places if place in first})
        for place, name in places:
            first.setdefault(place, name)
    return out
