"""Where a deduplication on a cluster cuts the corpus, and what it checks before anything runs.

The client plans from the listing alone (names and sizes as the file system
or object store states them): it never reads a corpus byte.
"""
from __future__ import annotations

import os
from collections.abc import Mapping, Sequence
from typing import Any, Union

from ._corpus_outputs import mirrored_path, refuse_overwriting
from ._corpus_sources import InputError, Source, kind_of
from ._locations import is_url

#: Bytes of inputs (as listed) per shard by default, when the workers state no memory limit.
DEFAULT_SHARD_SIZE = 64 << 20
#: A step needs up to about 20 bytes of memory per byte of its shard at its peak, above the worker's own
#: 100-150 MB and what Dask's exchanges hold; a shard of 1/64 of a thread's share of the limit leaves room.
SHARD_SHARE_OF_MEMORY = 64
#: Shards per worker thread at least, while the memory allows: the work spreads, and a slow shard holds up little.
SHARDS_PER_THREAD = 4
SMALLEST_FITTED_SHARD = 1 << 20


def thread_memory(workers: Mapping[str, Mapping[str, Any]]) -> list[Union[int, None]]:
    """The memory each thread of the cluster may use, one entry per thread (None: no limit stated).

    `workers`: the scheduler's description of each worker (memory_limit, nthreads).
    """
    shares: list[Union[int, None]] = []
    for worker in workers.values():
        threads = max(1, int(worker.get("nthreads") or 1))
        limit = worker.get("memory_limit")
        shares += [int(limit) // threads if limit else None] * threads
    return shares


def fitted_shard_size(thread_memory: Sequence[Union[int, None]], corpus_bytes: int) -> int:
    """The default shard size for a corpus on threads of this much memory each (None or 0: not stated).

    As large as the smallest share allows (each thread runs a step of its
    own; DEFAULT_SHARD_SIZE when no limit is stated), since every shard costs
    tasks and every pair of shards a cell of the exchanges; smaller when the
    corpus would not give each thread SHARDS_PER_THREAD shards.
    """
    limits = [limit for limit in thread_memory if limit]
    most = min(limits) // SHARD_SHARE_OF_MEMORY if limits else DEFAULT_SHARD_SIZE
    spread = -(-corpus_bytes // (SHARDS_PER_THREAD * max(1, len(thread_memory))))
    return max(SMALLEST_FITTED_SHARD, min(most, spread))


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
