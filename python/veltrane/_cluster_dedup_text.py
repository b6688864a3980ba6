"""A shard's text on its worker, between the steps of a deduplication on a cluster.

What travels between steps and stays in the cluster's memory is only what a
shard's text is made of: its pieces (where its bytes came from in the text
as loaded) and the ranges to look near (`ShardState`). The text itself goes
to a scratch file in the worker's own directory when a step makes it, for the
next step of the shard on that worker; a step that finds no file (it runs on
another worker, or the file went with its worker) reads the shard's inputs
again and applies the pieces. So a worker holds one shard's text at a time,
and a lost worker loses nothing that cannot be made again, the same.

Inputs travel by the names the command was given (what messages and the
mirrored output show) and are read relative to the command's working
directory, wherever the worker runs.
"""
from __future__ import annotations

import array
import os
import shutil
import struct
import tempfile
from dataclasses import dataclass
from typing import Any, Union

from . import _engine
from ._cluster_memory import gives_back
from ._corpus_load import LoadedCorpus, load_corpus
from ._corpus_sources import InputError, Source
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
    size: int


@dataclass(frozen=True)
class Loaded:
    """A loaded shard, kept on a worker for the run's end: what the client learns, and the offsets as loaded."""

    info: ShardInfo
    original: bytes  # uint64 words: documents + 1 offsets


@dataclass(frozen=True)
class ShardState:
    """A shard at the start of a pass, and what the last pass did to it."""

    version: int  # the pass whose removal made its text; 0 for the text as loaded
    size: int
    pieces: bytes  # uint64 words, three per piece: (at, origin, size) in the text as loaded
    near: Union[bytes, None]  # ranges (uint64 pairs) to look near; None before the first pass (every byte)
    removed: int = 0
    collided: bool = False


def _read(source: ShardSource) -> tuple[LoadedCorpus, list[tuple[str, str]]]:
    failed: list[tuple[str, str]] = []
    corpus = load_corpus([source.path(name) for name in source.names], field=source.field,
                         report=lambda name, reason: failed.append((source.shown(name), source.shown(reason))))
    return corpus, failed


@gives_back
def load(source: ShardSource) -> Loaded:
    """Reads the shard's inputs, keeps its text for the first pass, and tells what was read."""
    corpus, failed = _read(source)
    sources = tuple(s._replace(name=source.shown(s.name)) for s in corpus.sources)
    offsets = corpus.offsets.tobytes()
    store(source, 0, corpus.data, offsets)
    return Loaded(ShardInfo(len(corpus), sources, tuple(failed), len(corpus.data)), offsets)


def first_state(info: ShardInfo) -> ShardState:
    return ShardState(0, info.size, array.array("Q", (0, 0, info.size)).tobytes() if info.size else b"", None)


def text_of(source: ShardSource, loaded: Loaded, state: ShardState) -> tuple[memoryview, memoryview]:
    """The shard's text at `state`: (bytes, offsets as uint64 words), from the scratch file or made again."""
    try:
        with open(_path(source, state.version), "rb") as handle:
            blob = handle.read()
        magic, count = _HEADER.unpack_from(blob)
        if magic == _MAGIC and len(blob) >= _HEADER.size + 8 * count:
            view = memoryview(blob)
            return view[_HEADER.size + 8 * count:], view[_HEADER.size:_HEADER.size + 8 * count]
    except (OSError, struct.error):
        pass
    corpus, _ = _read(source)
    if corpus.offsets.tobytes() != loaded.original:
        raise InputError(source.names[0], "changed since it was read; the run cannot go on")
    if state.version == 0:
        data, offsets = bytes(corpus.data), loaded.original
    else:
        data, offsets = _engine.shard_text_from_pieces(corpus.data, loaded.original, state.pieces)
    del corpus
    store(source, state.version, data, offsets)
    return memoryview(data), memoryview(offsets)


def store(source: ShardSource, version: int, data: Union[bytes, bytearray, memoryview], offsets: bytes) -> None:
    """Keeps the shard's text of `version` for the next steps on this worker, and lets the older ones go.

    Only a cache: a failure to write it costs the next step a read of the inputs.
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
