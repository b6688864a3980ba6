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
from ._cluster_dedup_text import Loaded, ShardSource, ShardState, ShardText, store


@dataclass(frozen=True)
class Found:
    """What a shard found itself in a pass so far: its row for the next exchange, its duplicates, any collision."""

    row: Any
    duplicates: bytes
    collided: bool

    def __sizeof__(self) -> int:  # what Dask counts of a worker's memory, and spills by
        return (0 if self.row is None else payload_size(self.row)) + len(self.duplicates) + 100


@dataclass(frozen=True)
class Told:
    """What the partitions told a shard of its runs: claims on them, representatives, shared second keys."""

    claims: tuple[bytes, ...]
    representatives: tuple[bytes, ...]
    shared: tuple[bytes, ...]

    @staticmethod
    def of(column: Any) -> Told:
        parts = [payload for _, payload in received(column)]
        return Told(*(tuple(part[kind] for part in parts if part[kind]) for kind in range(3)))

    def __sizeof__(self) -> int:
        return sum(len(words) for kind in (self.claims, self.representatives, self.shared) for words in kind) + 100


@dataclass(frozen=True)
class Summary:
    size: int
    removed: int
    collided: bool
    version: int


def payload_size(value: Any) -> int:
    """The bytes a row, a column or a payload holds (Dask's own estimate sees only an object array's pointers)."""
    if value is None:
        return 0
    if isinstance(value, (bytes, bytearray)):
        return len(value)
    if isinstance(value, tuple):
        return sum(payload_size(part) for part in value)
    return int(8 * value.size + sum(payload_size(part) for part in value.flat))


def _row(width: int) -> Any:
    import numpy

    return numpy.full((1, width), None, dtype=object)


def received(column: Any) -> Iterable[tuple[int, Any]]:
    """(sender, payload) of each payload in an exchanged column."""
    if column is None:
        return ()
    return ((sender, payload) for sender, payload in enumerate(column[:, 0]) if payload is not None)


def _sent(pairs: Iterable[tuple[int, Any]], width: int) -> Any:
    """A row of `width` payloads (bytes, or tuples of bytes), None where nothing goes."""
    row = _row(width)
    for destination, payload in pairs:
        if payload:
            row[0, destination] = payload
    return row


def row_of(found: Found) -> Any:
    return found.row


def without_row(found: Found) -> Found:
    return replace(found, row=None)


def summary(state: ShardState) -> Summary:
    return Summary(state.size, state.removed, state.collided, state.version)


@gives_back
def run_step(text: ShardText, state: ShardState, position: int, min_length: int, keep: str, hash_base: int,
             partitions: int) -> Found:
    """The shard's anchor runs by class and its second keys, (runs, keys) for the partition of each key."""
    collided, runs, keys, duplicates = _engine.shard_run_records(text.data, text.offsets, position, min_length, keep,
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
def window_step(text: ShardText, told: Union[Told, None], position: int, min_length: int, keep: str, hash_base: int,
                partitions: int, earlier: Union[Found, None]) -> Found:
    """The windows the shard decides one by one (every window when `earlier` is None: windows with no anchors)."""
    duplicates, collided = (earlier.duplicates, earlier.collided) if earlier is not None else (b"", False)
    representatives: Union[list[bytes], None] = None
    shared: Union[list[bytes], None] = None
    if earlier is not None:
        assert told is not None
        representatives, shared = list(told.representatives), list(told.shared)
        if not representatives or not shared or collided:
            return Found(_row(partitions), duplicates, collided)
    more, parts, duplicates = _engine.shard_window_records(text.data, text.offsets, position, min_length, keep,
                                                           representatives, shared, hash_base, partitions, duplicates)
    return Found(_sent(enumerate(parts), partitions), duplicates, collided or more)


@gives_back
def decide_windows(column: Any, keep: str, positions: bytes, shards: int) -> Any:
    """At a partition: the claims on each shard's windows."""
    inputs = list(received(column))
    return _sent(_engine.shard_window_claims(inputs, keep, positions) if inputs else (), shards)


@gives_back
def serve(text: ShardText, told: Union[Told, None], claimed: Any, position: int, min_length: int, positions: bytes,
          shards: int) -> Any:
    """The bytes of every run of this shard that others claim to hold too, for each claimant."""
    claims = list(told.claims if told is not None else ()) + [runs for _, runs in received(claimed)]
    if not claims:
        return _row(shards)
    return _sent(_engine.shard_serve(text.data, text.offsets, position, min_length, claims, positions), shards)


@gives_back
def finish(source: ShardSource, text: ShardText, state: ShardState, found: Found, runs: Any, position: int,
           min_length: int, keep: str, whole_lines: bool, pass_number: int) -> ShardState:
    """Verifies the runs received and removes what the pass found: the shard's next state (its text left here)."""
    if found.collided:
        return replace(state, removed=0, collided=True)
    collided, removed, new_data, new_offsets, pieces, near = _engine.shard_finish(
        text.data, text.offsets, state.pieces, position, found.duplicates, [words for _, words in received(runs)],
        min_length, keep, whole_lines)
    if collided:
        return replace(state, removed=0, collided=True)
    if new_data is None:
        return ShardState(state.version, state.size, state.pieces, near)  # the same text goes on
    store(source, pass_number, new_data, new_offsets)
    return ShardState(pass_number, len(new_data), pieces, near, removed)


def removed_ranges(loaded: Loaded, state: ShardState) -> tuple[bytes, bytes, bytes]:
    """(documents, starts, ends) as uint64 words, documents counted from the shard's first."""
    return _engine.shard_removed_ranges(loaded.original, state.pieces)
