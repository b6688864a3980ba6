"""Exact deduplication of a corpus on a Dask cluster: the one-machine answer, without one machine.

The corpus is cut into shards of whole inputs in corpus order (at most
`shard_size` bytes as listed; a larger input is a shard of its own). Every
worker reads its shards itself, and each pass runs the steps of
docs/corpus-dedup-on-a-cluster.md: the shards' anchor records are shuffled
to find the windows that can repeat; those windows' hashes (one base for the
run, drawn here) are shuffled to decide which are duplicates; the claims go
to the shards holding the other copy, which send their bytes back; each
shard verifies them and removes what one pass of the one-machine engine
removes. Passes run until one removes nothing. The client plans, sends work
and gathers summaries and, for --mark, the ranges; it never reads a
corpus byte.
"""
from __future__ import annotations

import array
import os
import random
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any, Union

from ._cluster_dedup_exchange import Exchange
from ._cluster_dedup_shard import (ShardInfo, ShardInputs, ShardWrite, Summary, anchor_elements, decide_claims,
                                   decide_keys, elements_of, finish, load_shard, removed_ranges, serve, summary,
                                   window_state, write_shard)
from ._cluster_dedup_plan import DEFAULT_SHARD_SIZE, check_output, plan_shards
from ._corpus_sources import DocumentNames, InputError, Source
from ._walk import Report, list_files

#: Bytes of corpus per bag partition of a shuffle (at least two per worker): its records must fit a task.
SHUFFLE_BYTES = 16 << 20
#: Passes run again after a hash collision before the run gives up (each has a chance of about n^2 / 2^61).
MOST_COLLISIONS = 8


@dataclass(frozen=True)
class ClusterDedup:
    """What a deduplication on a cluster did (the ranges only when asked for)."""

    names: DocumentNames
    passes: int
    removed_bytes: int
    #: Per removed range: (document index, start, end), ascending; empty unless ranges were asked for.
    ranges: list[tuple[int, int, int]]
    #: Documents with something removed.
    changed_documents: int
    #: The shards' writes, when written.
    writes: tuple[ShardWrite, ...]
    #: Each input left out, (name, reason), in corpus order.
    failed: tuple[tuple[str, str], ...]
    shards: int


def deduplicate_on_cluster(client: Any, paths: Sequence[str], *, text_field: Union[str, None] = None,
                           min_length: int = 100, keep: str = "first", whole_lines: bool = False,
                           out: Union[str, None] = None, ranges: bool = False,
                           shard_size: int = DEFAULT_SHARD_SIZE, report: Union[Report, None] = None) -> ClusterDedup:
    """Deduplicates the corpus at `paths` on the cluster of `client`, as `veltrane corpus --dedup` does here.

    With `out`, each worker writes its shards' inputs under it, mirrored as
    the one-machine run writes them; with `ranges`, the removed ranges come
    back. Inputs that cannot be read (or written) are reported through
    `report(name, reason)` and left out, as on one machine; without `report`
    the first raises InputError. Raises ValueError for an output that would
    write over an input, before anything is read.
    """
    if min_length < 1:
        raise ValueError(f"min_length must be at least 1, not {min_length}")
    if keep not in ("first", "none"):
        raise ValueError(f"keep must be 'first' or 'none', not {keep!r}")
    if shard_size < 1:
        raise ValueError(f"shard_size must be at least 1 byte, not {shard_size}")
    failed: list[tuple[str, str]] = []

    def fail(name: str, reason: str) -> None:
        if report is None:
            raise InputError(name, reason)
        failed.append((name, reason))
        report(name, reason)

    listing = list_files(list(paths), fail)
    if out is not None:
        check_output(out, listing.paths, text_field, list(paths))
    plan = plan_shards(listing.paths, listing.sizes, shard_size)
    workers = max(1, len(client.scheduler_info().get("workers", {})))
    width = max(2 * workers, -(-listing.total_bytes // SHUFFLE_BYTES))
    exchange = Exchange(client, width)
    try:
        return _run(exchange, plan, text_field, min_length, keep, whole_lines, out, ranges, fail, failed)
    finally:
        exchange.cancel()


def _run(exchange: Exchange, plan: list[tuple[str, ...]], text_field: Union[str, None], min_length: int, keep: str,
         whole_lines: bool, out: Union[str, None], want_ranges: bool, fail: Report,
         failed: list[tuple[str, str]]) -> ClusterDedup:
    from ._engine import shard_anchor_records  # noqa: F401 - the engine must load here before work is sent

    cwd, submit, shards = os.getcwd(), exchange.submit, len(plan)
    inputs = [ShardInputs(names, cwd) for names in plan]
    texts = [submit(load_shard, shard_inputs, text_field) for shard_inputs in inputs]
    loaded: list[Summary] = exchange.client.gather([submit(summary, text) for text in texts])
    infos: list[ShardInfo] = [s.info for s in loaded if s.info is not None]
    for info in infos:
        for name, reason in info.failed:
            fail(name, reason)
    sizes = [s.size for s in loaded]
    anchored = min_length >= 32
    partitions = exchange.width * 4
    rng = random.SystemRandom()
    passes = 0
    while True:
        passes += 1
        positions = [0]
        for size in sizes[:-1]:
            positions.append(positions[-1] + size)
        packed_positions = array.array("Q", positions).tobytes()
        if anchored:
            records = [submit(anchor_elements, text, s, min_length, partitions) for s, text in enumerate(texts)]
            told = exchange.to_shards(exchange.at_partitions(records, decide_keys), shards)
        else:
            told = [submit(list) for _ in range(shards)]
        for _attempt in range(MOST_COLLISIONS):
            base = rng.randrange(512, (1 << 61) - 513)
            states = [submit(window_state, texts[s], s, positions[s], min_length, keep, told[s], base, partitions)
                      for s in range(shards)]
            elements = [submit(elements_of, state) for state in states]
            claims = exchange.to_shards(exchange.at_partitions(elements, decide_claims, keep, packed_positions), shards)
            served = [submit(serve, texts[s], positions[s], min_length, claims[s], packed_positions)
                      for s in range(shards)]
            runs = exchange.to_shards(exchange.bag(served), shards)
            finished = [submit(finish, texts[s], states[s], runs[s], positions[s], min_length, keep, whole_lines)
                        for s in range(shards)]
            done: list[Summary] = exchange.client.gather([submit(summary, text) for text in finished])
            if not any(s.collided for s in done):
                break
        else:
            raise RuntimeError(f"{MOST_COLLISIONS} hash collisions in a row: the run stops rather than guess")
        texts, sizes = finished, [s.size for s in done]
        if sum(s.removed for s in done) == 0:
            break
    return _finish(exchange, texts, inputs, infos, text_field, out, want_ranges, passes, fail, failed)


def _finish(exchange: Exchange, texts: list[Any], inputs: list[ShardInputs], infos: list[ShardInfo],
            text_field: Union[str, None], out: Union[str, None], want_ranges: bool, passes: int, fail: Report,
            failed: list[tuple[str, str]]) -> ClusterDedup:
    sources: list[Source] = []
    first = 0
    for info in infos:
        sources.extend(source._replace(first=source.first + first) for source in info.sources)
        first += info.documents
    names = DocumentNames(sources)
    gathered = exchange.client.gather([exchange.submit(removed_ranges, text) for text in texts])
    found: list[tuple[int, int, int]] = []
    removed, changed, first = 0, set(), 0
    for info, (documents, starts, ends) in zip(infos, gathered):
        columns = [array.array("Q") for _ in range(3)]
        for column, words in zip(columns, (documents, starts, ends)):
            column.frombytes(words)
        for document, start, end in zip(*columns):
            removed += end - start
            changed.add(first + document)
            if want_ranges:
                found.append((first + document, start, end))
        first += info.documents
    writes: tuple[ShardWrite, ...] = ()
    if out is not None:
        writes = tuple(exchange.client.gather([
            exchange.submit(write_shard, text, shard_inputs, info, text_field, out)
            for text, shard_inputs, info in zip(texts, inputs, infos)]))
        for write in writes:
            for name, reason in write.failed:
                fail(name, reason)
    return ClusterDedup(names, passes, removed, found, len(changed), writes, tuple(failed), len(texts))

