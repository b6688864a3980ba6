"""One pass of a deduplication on a cluster, as the client sends it (docs/corpus-dedup-on-a-cluster.md).

1. Each shard sends one record per class of its anchor runs to the partition
   of the key (exchange 1). A partition decides every key whose runs are all
   of one class run by run, as claims to the shards holding the other copy,
   and names the keys in several classes to the shards holding them
   (exchange 2).
2. Those shards send a record per window of those keys (exchange 3); the
   partitions of the windows' hashes claim window by window (exchange 4).
3. Every shard sends the bytes of its claimed runs to the claimants
   (exchange 5), which compare them with their own and remove what the pass
   found, as one pass of the one-machine engine removes it.

Windows too short to pick anchors skip step 1: every window goes through 2.
A collision anywhere makes the pass run again with a new base.
"""
from __future__ import annotations

import array
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any, Union

from ._cluster_dedup_exchange import EXCHANGED_SHARE, SPLIT, TAKE, Exchange
from ._cluster_dedup_steps import (Summary, Told, decide_runs, decide_windows, finish, row_of, run_step, serve,
                                   summary, window_step, without_row)
from ._cluster_dedup_text import ShardSource


@dataclass(frozen=True)
class PassOptions:
    min_length: int
    keep: str
    whole_lines: bool
    partitions: int  # of the keys and of the window hashes

    @property
    def anchored(self) -> bool:
        from ._engine import shard_anchored

        return shard_anchored(self.min_length)


def run_pass(exchange: Exchange, sources: Sequence[ShardSource], texts: Sequence[Any], states: Sequence[Any],
             sizes: Sequence[int], options: PassOptions, pass_number: int,
             hash_base: int) -> tuple[list[Any], list[Summary]]:
    """The shards' states after one pass (futures) and their summaries; a summary says when a collision spoiled it.

    `texts`: each shard's text at `states` (futures); a step that reads a text runs where Dask keeps it.
    """
    shards, width, submit = len(sources), options.partitions, exchange.submit
    positions = [0]
    for size in sizes[:-1]:
        positions.append(positions[-1] + size)
    packed = array.array("Q", positions).tobytes()
    length, keep = options.min_length, options.keep
    volume = sum(sizes) // EXCHANGED_SHARE

    def split(steps: list[Any]) -> tuple[list[Any], list[Any]]:
        # Rows and the rest apart, so that a row's memory goes as soon as it is sent.
        return [submit(row_of, f, priority=SPLIT) for f in steps], [submit(without_row, f, priority=SPLIT) for f in steps]

    told: list[Any] = [None] * shards
    earlier: list[Union[Any, None]] = [None] * shards
    if options.anchored:
        rows, earlier = split([submit(run_step, texts[s], states[s], positions[s], length, keep, hash_base, width)
                               for s in range(shards)])
        columns = exchange.exchange(rows, width, volume)
        del rows
        told = [submit(Told.of, column, priority=TAKE)
                for column in exchange.exchange([submit(decide_runs, column, keep, packed, shards, priority=TAKE)
                                                 for column in columns], shards, volume)]
        del columns
    rows, found = split([submit(window_step, texts[s], told[s], positions[s], length, keep, hash_base, width,
                                earlier[s]) for s in range(shards)])
    del earlier
    # Sent as soon as made: waiting to learn whether any shard sends anything would hold every row at once.
    columns = exchange.exchange(rows, width, volume)
    del rows
    claimed = exchange.exchange([submit(decide_windows, column, keep, packed, shards, priority=TAKE)
                                 for column in columns], shards, volume)
    del columns
    served = [submit(serve, texts[s], told[s], claimed[s], positions[s], length, packed, shards, priority=TAKE)
              for s in range(shards)]
    del told, claimed
    runs = exchange.exchange(served, shards, volume)
    del served
    after = [submit(finish, sources[s], texts[s], states[s], found[s], runs[s], positions[s], length, keep,
                    options.whole_lines, pass_number, priority=TAKE) for s in range(shards)]
    return after, exchange.client.gather([submit(summary, state) for state in after])
