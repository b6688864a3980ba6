"""A shard of a deduplication on a Dask cluster: what one worker does with its documents.

A shard is a run of whole inputs in corpus order. Its worker reads them
itself through the corpus loader, keeps their text between passes
(`ShardText`), runs each step of a pass on it with the engine's shard
functions, and at the end writes its own inputs' share of the output. Every
function here is a pure function of its arguments, so that Dask can run it
again elsewhere when a worker is lost: nothing is appended anywhere, and a
result made twice is the same result.

Inputs travel by the names the command was given (what messages and the
mirrored output show) and are read relative to the command's working
directory, wherever the worker runs.
"""
from __future__ import annotations

import array
import os
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any, Union

from . import _engine
from ._corpus_load import LoadedCorpus, load_corpus
from ._corpus_sources import DocumentNames, Source
from ._corpus_write import WriteSummary, write_deduplicated
from ._locations import is_url

#: (destination, payload) pairs: what a step sends through a shuffle.
Elements = list[tuple[int, Any]]


@dataclass(frozen=True)
class ShardInputs:
    """The inputs of one shard as the command names them, and the directory relative names are read from."""

    names: tuple[str, ...]
    cwd: str

    def path(self, name: str) -> str:
        return name if is_url(name) else os.path.join(self.cwd, name)

    def shown(self, text: str) -> str:
        """`text` (a message's name) with each path read put back as the name it was given."""
        for name in self.names:
            read = self.path(name)
            if read != name and (text == read or text.startswith(read + ":")):
                return name + text[len(read):]
        return text


@dataclass(frozen=True)
class ShardInfo:
    """What the client learns of a loaded shard: never its bytes."""

    documents: int
    sources: tuple[Source, ...]  # named as given, first document counted from the shard's
    failed: tuple[tuple[str, str], ...]  # (name, reason) of each input left out


@dataclass(frozen=True)
class ShardText:
    """A shard's text at the start of a pass, and what the last pass did to it."""

    data: bytes
    offsets: bytes  # uint64 words: documents + 1 offsets
    pieces: bytes  # uint64 words, three per piece: where the bytes came from in the text as loaded
    near: Union[bytes, None]  # the bytes the next pass must look near; None before the first
    original: bytes  # the offsets as loaded
    removed: int = 0
    collided: bool = False
    info: Union[ShardInfo, None] = None  # set when loaded


@dataclass(frozen=True)
class Summary:
    size: int
    removed: int
    collided: bool
    info: Union[ShardInfo, None] = None


@dataclass(frozen=True)
class WindowState:
    """A shard's candidate windows in a pass: its records for the partitions and what it found alone."""

    collided: bool
    elements: Elements
    duplicates: bytes = b""


def _words(*values: int) -> bytes:
    return array.array("Q", values).tobytes()


def load_shard(inputs: ShardInputs, text_field: Union[str, None]) -> ShardText:
    failed: list[tuple[str, str]] = []
    corpus = load_corpus([inputs.path(name) for name in inputs.names], field=text_field,
                         report=lambda name, reason: failed.append((inputs.shown(name), inputs.shown(reason))))
    sources = tuple(source._replace(name=inputs.shown(source.name)) for source in corpus.sources)
    data = bytes(corpus.data)
    offsets = corpus.offsets.tobytes()
    info = ShardInfo(len(corpus), sources, tuple(failed))
    return ShardText(data, offsets, _words(0, 0, len(data)) if data else b"", None, offsets, info=info)


def summary(text: ShardText) -> Summary:
    return Summary(len(text.data), text.removed, text.collided, text.info)


def anchor_elements(text: ShardText, shard: int, min_length: int, partitions: int) -> Elements:
    parts = _engine.shard_anchor_records(text.data, text.offsets, min_length, text.near, partitions)
    return [(p, (shard, part)) for p, part in enumerate(parts) if part]


def decide_keys(groups: Sequence[tuple[int, Sequence[tuple[int, Any]]]]) -> Elements:
    """At a partition: for each shard, the anchor keys whose windows are candidates."""
    inputs = [payload for _, items in groups for _, payload in items]
    return list(_engine.shard_candidate_keys(inputs)) if inputs else []


def window_state(text: ShardText, shard: int, position: int, min_length: int, keep: str, told: Sequence[bytes],
                 hash_base: int, partitions: int) -> WindowState:
    collided, parts, duplicates = _engine.shard_window_records(
        text.data, text.offsets, position, min_length, keep, text.near, list(told), hash_base, partitions)
    if collided:
        return WindowState(True, [])
    return WindowState(False, [(p, (shard, part)) for p, part in enumerate(parts) if part], duplicates)


def elements_of(state: WindowState) -> Elements:
    return state.elements


def decide_claims(groups: Sequence[tuple[int, Sequence[tuple[int, Any]]]], keep: str, positions: bytes) -> Elements:
    """At a partition: the claims on each shard's windows."""
    inputs = [payload for _, items in groups for _, payload in items]
    return list(_engine.shard_window_claims(inputs, keep, positions)) if inputs else []


def serve(text: ShardText, position: int, min_length: int, claims: Sequence[bytes], positions: bytes) -> Elements:
    if not claims:
        return []
    return list(_engine.shard_serve(text.data, text.offsets, position, min_length, list(claims), positions))


def finish(text: ShardText, state: WindowState, runs: Sequence[bytes], position: int, min_length: int, keep: str,
           whole_lines: bool) -> ShardText:
    if state.collided:
        return ShardText(text.data, text.offsets, text.pieces, text.near, text.original, 0, True)
    collided, removed, data, offsets, pieces, near = _engine.shard_finish(
        text.data, text.offsets, text.pieces, position, state.duplicates, list(runs), min_length, keep, whole_lines)
    if collided:
        return ShardText(text.data, text.offsets, text.pieces, text.near, text.original, 0, True)
    return ShardText(text.data if data is None else data, offsets, pieces, near, text.original, removed)


def removed_ranges(text: ShardText) -> tuple[bytes, bytes, bytes]:
    """(documents, starts, ends) as uint64 words, documents counted from the shard's first."""
    return _engine.shard_removed_ranges(text.original, text.pieces)


@dataclass(frozen=True)
class ShardWrite:
    summary: WriteSummary
    failed: tuple[tuple[str, str], ...] = ()


class _SizedFiles(LoadedCorpus):
    """A shard's files known by their sizes as loaded: a file's kept bytes equal it exactly when none went."""

    def document(self, index: int) -> memoryview:
        kept, size = self._kept(index), self._sizes[index]  # type: ignore[attr-defined]
        return kept if len(kept) == size else memoryview(bytes(size))


def _u64(words: bytes) -> array.array[int]:
    values = array.array("Q")
    values.frombytes(words)
    return values


def write_shard(text: ShardText, inputs: ShardInputs, info: ShardInfo, text_field: Union[str, None],
                out: str) -> ShardWrite:
    """Writes the shard's inputs under `out`, each document as the last pass left it."""
    offsets, original = _u64(text.offsets), _u64(text.original)
    view = memoryview(text.data)
    failed: list[tuple[str, str]] = []

    def kept(index: int) -> memoryview:
        return view[offsets[index]:offsets[index + 1]]

    def report(name: str, reason: str) -> None:
        failed.append((inputs.shown(name), inputs.shown(reason)))

    names = [source.name for source in info.sources]
    paths = [inputs.path(name) for name in names]
    corpus: LoadedCorpus
    if any(source.numbered for source in info.sources):
        # Records are written into their inputs again, which are read anew and must not have changed since.
        corpus = load_corpus(paths, field=text_field, report=report)
        if [(s.kind, s.documents, s.stamp) for s in corpus.sources] != [(s.kind, s.documents, s.stamp) for s in info.sources]:
            for name in names:
                report(name, "changed since it was read; not written")
            return ShardWrite(WriteSummary(0, 0, 0), tuple(failed))
    else:
        sources = tuple(source._replace(name=path) for source, path in zip(info.sources, paths))
        corpus = _SizedFiles(DocumentNames(sources), bytearray(), original, b"", sources, tuple(paths), text_field)
        object.__setattr__(corpus, "_kept", kept)
        object.__setattr__(corpus, "_sizes", [b - a for a, b in zip(original, original[1:])])
    written = write_deduplicated(corpus, out, kept, report=report, mirrored=names)
    return ShardWrite(written, tuple(failed))
