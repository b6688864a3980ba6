"""A shard's text between the steps of a deduplication on a cluster.

A shard's state (`ShardState`) is what its text is made of: its pieces (where
its bytes came from in the text as loaded) and the ranges to look near. Its
text (`ShardText`) is a result of its own, made by `make_text` from the state
alone: from the scratch file the step that removed bytes left in its worker's
directory, or, when there is none (the worker was lost, or the step runs on
another one), from the shard's inputs read again and the pieces applied. So
the steps of a shard follow its text from worker to worker as Dask places
them, a worker's memory holds the texts Dask keeps there (spilling them to
its disk when the worker is short of memory), and a lost text costs a read
of its inputs, never the passes before it.

Inputs travel by the names the command was given (what messages and the
mirrored output show) and are read relative to the command's working
directory, wherever the worker runs. A shard is a run of whole inputs, or one
piece of a JSON Lines or Parquet input (_cluster_dedup_pieces.py).
"""
from __future__ import annotations

import array
import functools
import os
import shutil
import struct
import tempfile
from dataclasses import dataclass
from typing import Any, NamedTuple, Union

from . import _engine
from ._cluster_memory import gives_back
from ._corpus_load import LEFT_OUT, LoadedCorpus, load_corpus, load_piece
from ._corpus_sources import Cut, InputError, RecordError, Source
from ._gzip_index import Checkpoint
from ._locations import is_url

#: A scratch file: this, the number of offsets (a uint64), the offsets, then the bytes.
_MAGIC = b"veltrane"
_HEADER = struct.Struct("=8sQ")


@dataclass(frozen=True)
class ShardSource:
    """One shard's inputs as the command names them, where relative names are read from, and its place in the run."""

    names: tuple[str, ...]
    cwd: str
    field: Union[str, None]
    run: str  # the run's name among the worker's scratch files
    shard: int
    cut: Union[Cut, None] = None  # set: the shard is this piece of its one input

    def path(self, name: str) -> str:
        return read_path(self.cwd, name)

    def shown(self, text: str) -> str:
        """`text` (a path read, or a message starting with one and a colon) put back as the name it was given."""
        given = _given_names(self)
        if text in given:
            return given[text]
        for read, name in given.items():  # a message: rare, so a scan of the shard's names will do
            if text.startswith(read + ":"):
                text = name + text[len(read):]
                break
        # A bad record's message ends naming the input it leaves out (see reported_reason).
        head, sep, read = text.removesuffix(LEFT_OUT).rpartition("; ")
        if text.endswith(LEFT_OUT) and sep and read in given:
            return f"{head}; {given[read]}{LEFT_OUT}"
        return text


def read_path(cwd: str, name: str) -> str:
    """Where a worker reads the input the command names `name`, given in the working directory `cwd`."""
    return name if is_url(name) else os.path.join(cwd, name)


@functools.lru_cache(maxsize=4)
def _given_names(source: ShardSource) -> dict[str, str]:
    # Every document of a shard asks for its name: a table, not a scan of thousands of names each time.
    return {source.path(name): name for name in source.names if source.path(name) != name}


class PieceFailure(NamedTuple):
    """Why a piece could not be read: a record numbered from the piece's first (and its line), or record 0."""

    record: int
    line: int
    reason: str  # the problem with the record; with record 0, the reason the input could not be read


@dataclass(frozen=True)
class ShardInfo:
    """What the client learns of a loaded shard: never its bytes."""

    documents: int
    sources: tuple[Source, ...]  # named as given, first document counted from the shard's
    failed: tuple[tuple[str, str], ...]  # (name, reason) of each input left out
    size: int
    lines: int = 0  # of a piece: the lines its records came from
    failure: Union[PieceFailure, None] = None  # of a piece that could not be read


@dataclass(frozen=True)
class Loaded:
    """A loaded shard, kept on a worker for the run's end: what the client learns, and the offsets as loaded."""

    info: ShardInfo
    original: bytes  # uint64 words: documents + 1 offsets
    resume: Union[Checkpoint, None] = None  # of a compressed input's piece: where reading it again starts

    def __sizeof__(self) -> int:  # what Dask counts of a worker's memory, and spills by
        return len(self.original) + 200 * len(self.info.sources) + (len(self.resume.window) if self.resume else 0)


@dataclass(frozen=True)
class ShardState:
    """A shard at the start of a pass, and what the last pass did to it."""

    version: int  # the pass whose removal made its text; 0 for the text as loaded
    size: int
    pieces: bytes  # uint64 words, three per piece: (at, origin, size) in the text as loaded
    near: Union[bytes, None]  # ranges (uint64 pairs) to look near; None before the first pass (every byte)
    removed: int = 0
    collided: bool = False

    def __sizeof__(self) -> int:
        return len(self.pieces) + len(self.near or b"") + 100


def _read(source: ShardSource) -> tuple[LoadedCorpus, list[tuple[str, str]]]:
    failed: list[tuple[str, str]] = []
    corpus = load_corpus([source.path(name) for name in source.names], field=source.field,
                         report=lambda name, reason: failed.append((source.shown(name), source.shown(reason))))
    return corpus, failed


def read_piece(source: ShardSource, resume: Union[Checkpoint, None]) -> tuple[LoadedCorpus, int]:
    """The shard's piece and its lines; InputError (a RecordError numbered from the piece) named as given."""
    assert source.cut is not None and source.field is not None
    try:
        return load_piece(source.path(source.names[0]), source.cut, source.field, resume)
    except RecordError as error:
        raise RecordError(source.names[0], error.number, error.line_number, source.shown(error.problem)) from None
    except InputError as error:
        raise InputError(source.names[0], source.shown(error.reason)) from None


@gives_back
def load(source: ShardSource, resume: Union[Checkpoint, None] = None) -> Loaded:
    """Reads the shard's inputs, keeps its text for the first pass, and tells what was read.

    `resume`: of a piece of a compressed input after its first, the
    checkpoint at its start (_cluster_dedup_survey.py).
    """
    lines, failure = 0, None
    if source.cut is None:
        corpus, failed = _read(source)
    else:
        failed = []  # the client words a piece's failure, knowing the pieces before it
        try:
            corpus, lines = read_piece(source, resume)
        except RecordError as error:
            corpus, failure = load_corpus([]), PieceFailure(error.number, error.line_number, error.problem)
        except InputError as error:
            corpus, failure = load_corpus([]), PieceFailure(0, 0, error.reason)
    sources = tuple(s._replace(name=source.shown(s.name)) for s in corpus.sources)
    offsets = corpus.offsets.tobytes()
    store(source, 0, corpus.data, offsets)
    return Loaded(ShardInfo(len(corpus), sources, tuple(failed), len(corpus.data), lines, failure), offsets, resume)


def first_state(info: ShardInfo) -> ShardState:
    return ShardState(0, info.size, array.array("Q", (0, 0, info.size)).tobytes() if info.size else b"", None)


@dataclass(frozen=True)
class ShardText:
    """A shard's documents at the start of a pass."""

    data: bytes
    offsets: bytes  # uint64 words: documents + 1 offsets

    def __sizeof__(self) -> int:
        return len(self.data) + len(self.offsets) + 100


@gives_back
def make_text(source: ShardSource, loaded: Loaded, state: ShardState) -> ShardText:
    """The shard's text at `state`: from the scratch file that made it, or from its inputs and its pieces."""
    path = _path(source, state.version)
    try:
        with open(path, "rb") as handle:
            magic, count = _HEADER.unpack(handle.read(_HEADER.size))
            if magic == _MAGIC:
                offsets = handle.read(8 * count)
                text = ShardText(handle.read(), offsets)
                if len(offsets) == 8 * count and len(text.data) == state.size:
                    os.unlink(path)  # the text is a result now; made again, it comes from the inputs
                    return text
    except (OSError, struct.error):
        pass
    corpus = _read(source)[0] if source.cut is None else read_piece(source, loaded.resume)[0]
    if corpus.offsets.tobytes() != loaded.original:
        raise InputError(source.names[0], "changed since it was read; the run cannot go on")
    if state.version == 0:
        return ShardText(bytes(corpus.data), loaded.original)
    data, offsets = _engine.shard_text_from_pieces(corpus.data, loaded.original, state.pieces)
    return ShardText(data, offsets)


def store(source: ShardSource, version: int, data: Union[bytes, bytearray, memoryview], offsets: bytes) -> None:
    """Leaves the shard's text of `version` for `make_text` on this worker, and lets the older ones go.

    Only a cache: a failure to write it costs `make_text` a read of the inputs.
    """
    path = _path(source, version)
    try:
        os.makedirs(os.path.dirname(path), exist_ok=True)
        partial = f"{path}.{os.getpid()}.partial"
        with open(partial, "wb") as handle:
            handle.write(_HEADER.pack(_MAGIC, len(offsets) // 8))
            handle.write(offsets)
            handle.write(data)
        os.replace(partial, path)
        for older in range(version):
            try:
                os.unlink(_path(source, older))
            except FileNotFoundError:
                pass
    except OSError:
        pass


def forget(run: str, dask_worker: Any = None) -> None:
    """Removes the run's scratch files from this worker (`client.run` names the worker)."""
    shutil.rmtree(_directory(run, dask_worker), ignore_errors=True)


def _directory(run: str, worker: Any = None) -> str:
    if worker is None:
        try:
            from distributed import get_worker

            worker = get_worker()
        except (ImportError, ValueError):
            pass
    root = worker.local_directory if worker is not None else tempfile.gettempdir()
    return os.path.join(root, f"veltrane-dedup-{run}")


def _path(source: ShardSource, version: int) -> str:
    return os.path.join(_directory(source.run), f"shard-{source.shard}-{version}")
