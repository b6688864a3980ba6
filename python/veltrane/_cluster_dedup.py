"""Exact deduplication of a corpus on a Dask cluster: the one-machine answer, without one machine.

The corpus is cut into shards of whole documents in corpus order (at most
`shard_size` bytes as listed, by default what the workers' memory fits): runs
of whole inputs, and pieces of JSON Lines and Parquet inputs larger than a
shard (_cluster_dedup_pieces.py; compressed ones and Parquet cut where a
worker's survey says, _cluster_dedup_survey.py); any other input larger than
a shard is a shard of its own. Every worker reads its shards itself and runs the passes of
docs/corpus-dedup-on-a-cluster.md on them (_cluster_dedup_pass.py) until one
removes nothing; between steps Dask keeps or spills a shard's text. The
client plans, sends work and gathers summaries and, for --mark, the ranges;
it never reads a corpus byte.
"""
from __future__ import annotations

import array
import functools
import os
import random
import secrets
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any, Union

from ._cluster_dedup_exchange import Exchange
from ._cluster_dedup_pass import PassOptions, run_pass
from ._cluster_dedup_pieces import (Planned, joined_sources, joined_writes, piece_numbers, piece_size, plan_pieces,
                                    settle, taken_by_shard)
from ._cluster_dedup_plan import check_output, fitted_shard_size, thread_memory
from ._cluster_dedup_steps import removed_ranges
from ._cluster_dedup_survey import compressed_jsonl, resumes, survey_inputs
from ._cluster_dedup_text import Loaded, ShardInfo, ShardSource, first_state, forget, load, make_text, read_path
from ._cluster_dedup_write import ShardWrite, make_root, write_shard
from ._corpus_sources import DocumentNames, InputError
from ._walk import Report, list_files

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
    #: When written: each shard's of whole inputs, and one per input written in pieces, in corpus order.
    writes: tuple[ShardWrite, ...]
    #: Each input left out, (name, reason), in corpus order.
    failed: tuple[tuple[str, str], ...]
    shards: int


def deduplicate_on_cluster(client: Any, paths: Sequence[str], *, text_field: Union[str, None] = None,
                           min_length: int = 100, keep: str = "first", whole_lines: bool = False,
                           out: Union[str, None] = None, ranges: bool = False,
                           shard_size: Union[int, None] = None, report: Union[Report, None] = None) -> ClusterDedup:
    """Deduplicates the corpus at `paths` on the cluster of `client`, as `veltrane corpus --dedup` does here.

    With `out`, each worker writes its shards' inputs under it, mirrored as
    the one-machine run writes them; with `ranges`, the removed ranges come
    back. Inputs that cannot be read (or written) are reported through
    `report(name, reason)` and left out, as on one machine; without `report`
    the first raises InputError. Raises ValueError for an output that would
    write over an input, before anything is read. `shard_size` None: 64 MiB,
    or less when the smallest worker's memory limit asks for less.
    """
    if min_length < 1:
        raise ValueError(f"min_length must be at least 1, not {min_length}")
    if keep not in ("first", "none"):
        raise ValueError(f"keep must be 'first' or 'none', not {keep!r}")
    if shard_size is not None and shard_size < 1:
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
    found = client.scheduler_info().get("workers", {})
    workers = len(found)
    if shard_size is None:
        shard_size = fitted_shard_size(thread_memory(found), listing.total_bytes)
    exchange = Exchange(client)
    run = secrets.token_hex(8)
    cwd = os.getcwd()
    try:
        cuts, surveys = survey_inputs(exchange.submit, client.gather, listing.paths, listing.sizes,
                                      piece_size(shard_size), text_field,
                                      functools.partial(read_path, cwd))
        plan = plan_pieces(listing.paths, listing.sizes, shard_size, text_field, cuts)
        sources = [ShardSource(shard.names, cwd, text_field, run, s, shard.cut) for s, shard in enumerate(plan)]
        starts = resumes(exchange.submit, piece_numbers(plan), surveys,
                         lambda at: compressed_jsonl(listing.paths[at], text_field))
        # A partition of keys receives about a shard's worth of records: it fits where a shard's step fits.
        partitions = max(2 * max(1, workers), len(plan))
        options = PassOptions(min_length, keep, whole_lines, partitions)
        return _run(exchange, plan, sources, starts, options, out, ranges, fail, failed)
    finally:
        exchange.cancel()
        try:
            client.run(forget, run)
        except Exception:  # noqa: BLE001 - scratch files of a cluster gone go with its workers
            pass


def _run(exchange: Exchange, plan: list[Planned], sources: list[ShardSource], starts: list[Any],
         options: PassOptions, out: Union[str, None], want_ranges: bool, fail: Report,
         failed: list[tuple[str, str]]) -> ClusterDedup:
    from ._engine import shard_run_records  # noqa: F401 - the engine must load here before work is sent

    submit, client = exchange.submit, exchange.client
    loaded = [submit(load, source, start) for source, start in zip(sources, starts)]
    infos: list[ShardInfo] = client.gather([submit(_info, shard) for shard in loaded])
    # The shards of an input one of whose pieces could not be read go: the input is left out whole.
    going_on = settle(plan, infos, fail)
    plan, sources = [plan[s] for s in going_on], [sources[s] for s in going_on]
    loaded, infos = [loaded[s] for s in going_on], [infos[s] for s in going_on]
    states: list[Any] = [first_state(info) for info in infos]
    versions = [0] * len(sources)
    texts = [submit(make_text, sources[s], loaded[s], states[s]) for s in range(len(sources))]
    sizes = [info.size for info in infos]
    rng = random.SystemRandom()
    passes = 0 if sources else 1  # no shard: one pass, removing nothing, as on one machine
    while sources:
        passes += 1
        for _attempt in range(MOST_COLLISIONS):
            base = rng.randrange(512, (1 << 61) - 513)
            after, done = run_pass(exchange, sources, texts, states, sizes, options, passes, base)
            if not any(s.collided for s in done):
                break
        else:
            raise RuntimeError(f"{MOST_COLLISIONS} hash collisions in a row: the run stops rather than guess")
        states, sizes = after, [s.size for s in done]
        # A shard whose pass removed nothing goes on with its text; the others' texts are made anew.
        texts = [texts[s] if done[s].version == versions[s] else submit(make_text, sources[s], loaded[s], states[s])
                 for s in range(len(sources))]
        versions = [s.version for s in done]
        if sum(s.removed for s in done) == 0:
            break
    return _finish(exchange, plan, sources, loaded, texts, states, infos, out, want_ranges, passes, fail, failed)


def _info(loaded: Loaded) -> ShardInfo:
    return loaded.info


def _finish(exchange: Exchange, plan: list[Planned], sources: list[ShardSource], loaded: list[Any], texts: list[Any],
            states: list[Any], infos: list[ShardInfo], out: Union[str, None], want_ranges: bool, passes: int,
            fail: Report, failed: list[tuple[str, str]]) -> ClusterDedup:
    names = DocumentNames(joined_sources(plan, infos))
    submit, client = exchange.submit, exchange.client
    gathered = client.gather([submit(removed_ranges, loaded[s], states[s]) for s in range(len(sources))])
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
        taken = taken_by_shard(plan, infos)
        written = [submit(write_shard, sources[s], loaded[s], texts[s], out, taken[s]) for s in range(len(sources))]
        # With no shard left, one task makes the output directory, as the one-machine writer always does.
        writes = tuple(client.gather(joined_writes(submit, plan, sources, written, out) or [submit(make_root, out)]))
        for write in writes:
            for name, reason in write.failed:
                fail(name, reason)
    return ClusterDedup(names, passes, removed, found, len(changed), writes, tuple(failed), len(sources))
