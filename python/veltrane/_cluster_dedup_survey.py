"""Compressed JSON Lines and Parquet inputs larger than a shard: where to cut them, learnt on a worker.

The client cannot cut these from their listed size. A gzip input's text is
longer than the file by a factor only reading it tells, and a piece of it
can be read alone only from a checkpoint at its start (_gzip_index.py); a
Parquet input is cut between row groups, which its footer lists. So a worker
surveys each such input that could be larger than a piece (all of a gzip
input, read once; the footer of a Parquet one) and the client learns only
the cuts. The checkpoints stay on the worker as the survey's result, and
each piece's loader is sent its own.

An input that cannot be surveyed stays whole: its loader then says what is
wrong with it, in the one-machine words.
"""
from __future__ import annotations

import bisect
from collections.abc import Callable, Mapping, Sequence
from dataclasses import dataclass
from typing import Any, Union

from ._corpus_parquet import group_sizes
from ._corpus_sources import Cut, Kind, gzipped, kind_of
from ._gzip_index import Checkpoint, GzipIndex, index_gzip
from ._locations import open_stream

#: Inputs whose listed size times this passes a piece are surveyed: gzip makes text 3 to 5 times smaller.
EXPANSION = 8
#: Checkpoints per piece: the cuts fall within 1/this of a piece of where equal pieces would end.
CHECKPOINTS_PER_PIECE = 8


@dataclass(frozen=True)
class Survey:
    """Where an input is cut: () when it stays whole; for gzip, the checkpoint each piece is read from."""

    cuts: tuple[Cut, ...]
    resumes: tuple[Union[Checkpoint, None], ...] = ()

    def __sizeof__(self) -> int:  # what Dask counts of a worker's memory
        return sum(len(resume.window) for resume in self.resumes if resume) + 100 * len(self.cuts) + 100


def compressed_jsonl(name: str, field: Union[str, None]) -> bool:
    return kind_of(name, field) is Kind.JSONL and gzipped(name)


def surveyed(name: str, size: int, piece: int, field: Union[str, None]) -> bool:
    """Whether the input is surveyed: compressed JSON Lines or Parquet, read by --field, that may pass a piece."""
    return (compressed_jsonl(name, field) or kind_of(name, field) is Kind.PARQUET) and size * EXPANSION > piece


def survey(path: str, field: str, piece: int) -> Survey:
    """Where to cut the input at `path` into pieces of at most about `piece` bytes of text (runs on a worker)."""
    try:
        if kind_of(path, field) is Kind.PARQUET:
            return Survey(tuple(group_cuts(group_sizes(path, field), piece)))
        with open_stream(path) as handle:
            index = index_gzip(handle, max(1, piece // CHECKPOINTS_PER_PIECE))
    except Exception:  # noqa: BLE001 - whatever it is, the input's loader meets it too and words it
        return Survey(())
    if isinstance(index, str):
        return Survey(())  # not a stream to resume in the middle; read whole, as one machine reads it
    return gzip_cuts(index, piece)


def group_cuts(sizes: Sequence[int], piece: int) -> list[Cut]:
    """Runs of row groups of at most `piece` bytes (a larger group alone); [] when they make one piece."""
    starts = [0]
    held = 0
    for group, size in enumerate(sizes):
        if held > 0 and held + size > piece:
            starts.append(group)
            held = 0
        held += size
    if len(starts) < 2:
        return []
    return list(zip(starts, [*starts[1:], None]))


def gzip_cuts(index: GzipIndex, piece: int) -> Survey:
    """About equal pieces of the indexed text, each cut at a checkpoint, none over `piece` bytes and a block.

    A checkpoint follows each multiple of the spacing within a deflate block,
    so a cut falls at most a spacing and a block after where equal pieces of
    size / count bytes would start: count allows for that spacing.
    """
    spacing = max(1, piece // CHECKPOINTS_PER_PIECE)
    count = -(-index.size // max(1, piece - spacing))
    positions = [checkpoint.position for checkpoint in index.checkpoints]
    chosen: list[Checkpoint] = []
    i = 1
    while i < count:
        found = _first_at_or_after(positions, index.size * i // count)
        if found is None:
            break
        checkpoint = index.checkpoints[found]
        if not chosen or checkpoint.position > chosen[-1].position:
            chosen.append(checkpoint)
        # On to the first equal piece that starts past this cut: far fewer steps than pieces when checkpoints are few.
        i = max(i + 1, checkpoint.position * count // index.size + 1)
    if not chosen:
        return Survey(())
    starts = [0, *(checkpoint.position for checkpoint in chosen)]
    return Survey(tuple(zip(starts, [*starts[1:], None])), (None, *chosen))


def _first_at_or_after(positions: Sequence[int], at: int) -> Union[int, None]:
    found = bisect.bisect_left(positions, at)
    return found if found < len(positions) else None


def cuts_of(survey: Survey) -> tuple[Cut, ...]:
    return survey.cuts


def resume_of(survey: Survey, piece: int) -> Union[Checkpoint, None]:
    return survey.resumes[piece] if piece < len(survey.resumes) else None


def survey_inputs(submit: Callable[..., Any], gather: Callable[[Any], Any], names: Sequence[str],
                  sizes: Sequence[int], piece: int, field: Union[str, None],
                  path: Callable[[str], str]) -> tuple[dict[int, tuple[Cut, ...]], dict[int, Any]]:
    """The cuts of each surveyed input, by its place in the listing, and the surveys (futures) for `resumes`."""
    if field is None:
        return {}, {}
    surveys = {i: submit(survey, path(name), field, piece)
               for i, (name, size) in enumerate(zip(names, sizes)) if surveyed(name, size, piece, field)}
    cuts: dict[int, tuple[Cut, ...]] = gather({i: submit(cuts_of, future) for i, future in surveys.items()})
    return cuts, surveys


def resumes(submit: Callable[..., Any], inputs: Sequence[tuple[int, int]], surveys: Mapping[int, Any],
            compressed: Callable[[int], bool]) -> list[Any]:
    """Per shard, given as (its input's place, its piece's number in it; -1 for whole inputs): its checkpoint
    (a future), or None when it is read from an input's start."""
    return [submit(resume_of, surveys[at], piece, priority=1) if piece > 0 and at in surveys and compressed(at)
            else None for at, piece in inputs]
