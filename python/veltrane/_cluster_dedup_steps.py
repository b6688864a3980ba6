"""The steps of one pass of a deduplication on a cluster: what shards and partitions do with what they receive.

A step that sends gives a row: one payload per destination (None where it
sends nothing), which the exchange turns into columns, one per destination
with one payload per sender (_cluster_dedup_exchange.py). Every function here
is a pure function of its arguments, so that Dask can run it again elsewhere
when a worker is lost: nothing is appended anywhere, and a result made twice
is the same result.
"""
from __future__ import annotations

from collections.abc import Iterable
from dataclasses import dataclass, replace
from typing import Any, Union

from . import _engine
from ._cluster_memory import gives_back
from ._cluster_dedup_text import Loaded, ShardSource, ShardState, store, text_of


@dataclass(frozen=True)
class Found:
    """What a shard found itself in a pass so far: its row for the next exchange, its duplicates, any collision."""

    row: Any
    duplicates: bytes
    collided: bool


@dataclass(frozen=True)
class Summary:
    size: int
    removed: int
    collided: bool


def _row(width: int) -> Any:
    import numpy

    return numpy.full((1, width), None, dtype=object)


def received(column: Any) -> Iterable[tuple[int, Any]]:
    """(sender, payload) of each payload in an exchanged column."""
    if column is None:
        return ()
    return ((sender, payload) for sender, payload in enumerate(column[:, 0]) if payload is not None)


def _sent(pairs: Iterable[tuple[int, bytes]], width: int) -> Any:
    row = _row(width)
    for destination, payload in pairs:
        if payload:
            row[0, destination] = payload
    return row


def row_of(found: Found) -> Any:
    return found.row


def without_row(found: Found) -> Found:
    return replace(found, row=None)


def sends_anything(row: Any) -> bool:
    return any(payload is not None for payload in row[0])


def summary(state: ShardState) -> Summary:
    return Summary(state.size, state.removed, state.collided)


@gives_back
def run_step(source: ShardSource, loaded: Loaded, state: ShardState, position: int, min_length: int, keep: str,
             hash_base: int, partitions: int) -> Found:
    """The shard's anchor runs by class and its second keys, (runs, keys) for the partition of each key."""
    data, offsets = text_of(source, loaded, state)
    collided, runs, keys, duplicates = _engine.shard_run_records(data, offsets, position, min_length, keep,
                                                                 state.near, hash_base, partitions)
    return Found(_sent(((p, (r, k)) for p, (r, k) in enumerate(zip(runs, keys)) if r or k), partitions), duplicates,
                 collided)


@gives_back
def decide_runs(column: Any, keep: str, positions: bytes, shards: int) -> Any:
    """At a partition: for each shard, (claims on its runs, its runs to decide window by window, its shared second keys)."""
    inputs = list(received(column))
    row = _row(shards)
    if inputs:
        told: dict[int, list[bytes]] = {}
        decided = _engine.shard_run_decisions([(s, runs) for s, (runs, _) in inputs],
                                              [(s, keys) for s, (_, keys) in inputs], keep, positions)
        for kind, pairs in enumerate(decided):
            for shard, words in pairs:
                told.setdefault(shard, [b"", b"", b""])[kind] = words
        for shard, (claims, representatives, shared) in told.items():
            row[0, shard] = (claims, representatives, shared)
    return row


@gives_back
def window_step(source: ShardSource, loaded: Loaded, state: ShardState, told: Any, position: int, min_length: int,
                keep: str, hash_base: int, partitions: int, earlier: Union[Found, None]) -> Found:
    """The windows the shard decides one by one (every window when `earlier` is None: windows with no anchors)."""
    duplicates, collided = (earlier.duplicates, earlier.collided) if earlier is not None else (b"", False)
    representatives: Union[list[bytes], None] = None
    shared: Union[list[bytes], None] = None
    if earlier is not None:
        representatives = [runs for _, (_, runs, _) in received(told) if runs]
        shared = [keys for _, (_, _, keys) in received(told) if keys]
        if not representatives or not shared or collided:
            return Found(_row(partitions), duplicates, collided)
    data, offsets = text_of(source, loaded, state)
    more, parts, duplicates = _engine.shard_window_records(data, offsets, position, min_length, keep, representatives,
                                                           shared, hash_base, partitions, duplicates)
    return Found(_sent(enumerate(parts), partitions), duplicates, collided or more)


@gives_back
def decide_windows(column: Any, keep: str, positions: bytes, shards: int) -> Any:
    """At a partition: the claims on each shard's windows."""
    inputs = list(received(column))
    return _sent(_engine.shard_window_claims(inputs, keep, positions) if inputs else (), shards)


@gives_back
def serve(source: ShardSource, loaded: Loaded, state: ShardState, told: Any, claimed: Any, position: int,
          min_length: int, positions: bytes, shards: int) -> Any:
    """The bytes of every run of this shard that others claim to hold too, for each claimant."""
    claims = [runs for _, (runs, _, _) in received(told) if runs] + [runs for _, runs in received(claimed)]
    if not claims:
        return _row(shards)
    data, offsets = text_of(source, loaded, state)
    return _sent(_engine.shard_serve(data, offsets, position, min_length, claims, positions), shards)


@gives_back
def finish(source: ShardSource, loaded: Loaded, state: ShardState, found: Found, runs: Any, position: int,
           min_length: int, keep: str, whole_lines: bool, pass_number: int) -> ShardState:
    """Verifies the runs received and removes what the pass found: the shard's next state (its text kept here)."""
    if found.collided:
        return replace(state, removed=0, collided=True)
    data, offsets = text_of(source, loaded, state)
    collided, removed, new_data, new_offsets, pieces, near = _engine.shard_finish(
        data, offsets, state.pieces, position, found.duplicates, [words for _, words in received(runs)], min_length,
        keep, whole_lines)
    if collided:
        return replace(state, removed=0, collided=True)
    if new_data is None:
        return ShardState(state.version, state.size, state.pieces, near)
    store(source, pass_number, new_data, new_offsets)
    return ShardState(pass_number, len(new_data), pieces, near, removed)


def removed_ranges(loaded: Loaded, state: ShardState) -> tuple[bytes, bytes, bytes]:
    """(documents, starts, ends) as uint64 words, documents counted from the shard's first."""
    return _engine.shard_removed_ranges(loaded.original, state.pieces)
