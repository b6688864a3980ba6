"""JSON Lines and Parquet inputs larger than a shard: cut into pieces on several shards, joined again into one.

The client cuts an uncompressed JSON Lines input larger than a shard into
pieces, byte ranges of about equal size, from its size as listed: it never
reads it. A piece's documents are the records whose line starts in its range
(_corpus_jsonl.piece_lines), so the pieces hold every record once wherever
the cuts fall, inside a line or a character, and a piece may hold none.
Compressed JSON Lines and Parquet inputs are cut where a worker's survey of
them says (_cluster_dedup_survey.py): their text at gzip checkpoints, their
row groups in runs. Each piece is a shard of its own, at most about a shard's
size already. Other files stay whole.

What the pieces tell is joined into what one machine knows of the input: one
source (first document and count summed) naming its documents, one message
for a bad record, numbered across the input from the records and lines of
the pieces before, the input left out as a whole, and one output file.
"""
from __future__ import annotations

from collections.abc import Callable, Mapping, Sequence
from types import MappingProxyType
from typing import Any, NamedTuple, Union

from ._cluster_dedup_plan import plan_shards, taken_before
from ._cluster_dedup_text import ShardInfo, ShardSource
from ._cluster_dedup_write import join_parts
from ._corpus_sources import Cut, RecordError
from ._corpus_load import reported_reason
from ._corpus_sources import InputError, Kind, Source, gzipped, kind_of
from ._walk import Report

#: No input is cut into pieces smaller than this, whatever the shard size: a piece costs a shard's tasks.
SMALLEST_PIECE = 64 << 10


class Planned(NamedTuple):
    """A shard as planned: a run of whole inputs, or the piece `cut` of its one input."""

    names: tuple[str, ...]
    cut: Union[Cut, None]
    input: int  # the place of names[0] in the listing


def piece_size(shard_size: int) -> int:
    """The most bytes of text a piece holds."""
    return max(shard_size, SMALLEST_PIECE)


def cut_points(size: int, shard_size: int) -> list[Cut]:
    """The pieces of a splittable input of `size` listed bytes; [] when it fits one shard.

    About equal pieces, none over `piece_size` bytes; the last one runs to
    the input's end, wherever that is when it is read.
    """
    most = piece_size(shard_size)
    if size <= most:
        return []
    count = -(-size // most)
    starts = [size * i // count for i in range(count)]
    ends: list[Union[int, None]] = [*starts[1:], None]
    return list(zip(starts, ends))


def splittable(name: str, field: Union[str, None]) -> bool:
    """Whether the client cuts the input from its listed size: an uncompressed JSON Lines input read by --field."""
    return kind_of(name, field) is Kind.JSONL and not gzipped(name)


def plan_pieces(names: Sequence[str], sizes: Sequence[int], shard_size: int, field: Union[str, None],
                surveyed: Mapping[int, Sequence[Cut]] = MappingProxyType({})) -> list[Planned]:
    """The shards: runs of whole inputs of at most `shard_size` listed bytes, the pieces of larger JSON Lines,
    and those of the inputs `surveyed` says to cut (by their place in the listing)."""
    planned: list[Planned] = []
    whole = 0  # the first input of the run of whole inputs not planned yet

    def plan_whole(end: int) -> None:
        at = whole
        for shard in plan_shards(names[whole:end], sizes[whole:end], shard_size):
            planned.append(Planned(shard, None, at))
            at += len(shard)

    for index, (name, size) in enumerate(zip(names, sizes)):
        pieces = (list(surveyed[index]) if index in surveyed
                  else cut_points(size, shard_size) if splittable(name, field) else [])
        if pieces:
            plan_whole(index)
            planned.extend(Planned((name,), cut, index) for cut in pieces)
            whole = index + 1
    plan_whole(len(names))
    return planned


def runs(plan: Sequence[Planned]) -> list[range]:
    """The shards grouped by what one machine knows as one thing: a shard of whole inputs, or an input's pieces."""
    grouped: list[range] = []
    start = 0
    for s in range(1, len(plan) + 1):
        if s == len(plan) or plan[s].cut is None or plan[s].input != plan[start].input:
            grouped.append(range(start, s))
            start = s
    return grouped


def piece_numbers(plan: Sequence[Planned]) -> list[tuple[int, int]]:
    """Per shard: the place of its (first) input in the listing, and its piece's number there (-1: whole inputs)."""
    numbers: list[tuple[int, int]] = []
    for run in runs(plan):
        whole = plan[run[0]].cut is None
        numbers += [(plan[s].input, -1 if whole else k) for k, s in enumerate(run)]
    return numbers


def settle(plan: Sequence[Planned], infos: Sequence[ShardInfo], fail: Report) -> list[int]:
    """Reports each input left out once, in corpus order and in one machine's words; returns the shards to go on with.

    A piece that could not be read leaves its whole input out, and with it
    every shard of that input.
    """
    going_on: list[int] = []
    for run in runs(plan):
        if plan[run[0]].cut is None:
            for name, reason in infos[run[0]].failed:
                fail(name, reason)
            going_on.append(run[0])
            continue
        error = _input_error(plan[run[0]].names[0], [infos[s] for s in run])
        if error is None:
            going_on.extend(run)
        else:
            fail(error.name, reported_reason(error))
    return going_on


def _input_error(name: str, pieces: Sequence[ShardInfo]) -> Union[InputError, None]:
    """The error one machine meets first reading the input of these pieces, or None."""
    records = lines = 0
    for info in pieces:
        failure = info.failure
        if failure is not None:
            if failure.record == 0:
                return InputError(name, failure.reason)
            return RecordError(name, records + failure.record, lines + failure.line, failure.reason)
        records += info.documents
        lines += info.lines
    return None


def joined_sources(plan: Sequence[Planned], infos: Sequence[ShardInfo]) -> list[Source]:
    """The sources of the shards in corpus order, first documents counted from the corpus's; an input's pieces one."""
    sources: list[Source] = []
    first = 0
    for run in runs(plan):
        start = len(sources)
        for s in run:
            for source in infos[s].sources:
                if s != run[0] and plan[s].cut is not None:
                    sources[start] = sources[start]._replace(documents=sources[start].documents + source.documents)
                else:
                    sources.append(source._replace(first=source.first + first))
            first += infos[s].documents
    return sources


def taken_by_shard(plan: Sequence[Planned], infos: Sequence[ShardInfo]) -> list[dict[str, str]]:
    """For each shard, the places under the output inputs before its own take (an input's pieces: those before it)."""
    grouped = runs(plan)
    taken = taken_before([infos[run[0]].sources for run in grouped])
    return [taken[g] for g, run in enumerate(grouped) for _ in run]


def joined_writes(submit: Callable[..., Any], plan: Sequence[Planned], sources: Sequence[ShardSource],
                  writes: Sequence[Any], out: str) -> list[Any]:
    """The writes of shards of whole inputs as they are, and one task per input written in pieces joining them."""
    joined = []
    for run in runs(plan):
        if plan[run[0]].cut is None:
            joined.append(writes[run[0]])
            continue
        starts = [cut[0] for s in run if (cut := plan[s].cut) is not None]
        first = sources[run[0]]
        name = first.names[0]
        joined.append(submit(join_parts, out, name, first.path(name), first.field, starts, [writes[s] for s in run]))
    return joined
