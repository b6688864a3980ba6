"""A shard's share of the output of a deduplication on a cluster, written by its worker; an input's parts joined."""
from __future__ import annotations

import array
import os
import shutil
from collections.abc import Callable, Sequence
from contextlib import nullcontext
from dataclasses import dataclass
from typing import IO, Union

from ._cluster_memory import gives_back
from ._cluster_dedup_text import Loaded, ShardSource, ShardText, read_piece
from ._corpus_load import LoadedCorpus, load_corpus
from ._corpus_outputs import Outputs, mirrored_path, output_location, part_path
from ._corpus_jsonl import gzip_writer
from ._corpus_parquet import join_parquet
from ._corpus_sources import DocumentNames, InputError, Kind, gzipped, kind_of
from ._corpus_write import WriteSummary, write_deduplicated
from ._gzip_index import Checkpoint
from ._locations import describe_error, is_url, open_stream, url_filesystem


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


@gives_back
def write_shard(source: ShardSource, loaded: Loaded, text: ShardText, out: str, taken: dict[str, str]) -> ShardWrite:
    """Writes the shard's inputs under `out`, each document as the last pass left it (`text`).

    `taken`: the places under the output that inputs of earlier shards take.
    A piece is written to its part, beside its input's place, for `join_parts`.
    """
    data = memoryview(text.data)
    offsets, original = _u64(text.offsets), _u64(loaded.original)
    failed: list[tuple[str, str]] = []

    def kept(index: int) -> memoryview:
        return data[offsets[index]:offsets[index + 1]]

    def report(name: str, reason: str) -> None:
        failed.append((source.shown(name), source.shown(reason)))

    info = loaded.info
    names = [s.name for s in info.sources]
    paths = [source.path(name) for name in names]
    corpus: Union[LoadedCorpus, None]
    if source.cut is not None or any(s.numbered for s in info.sources):
        # Records are written into their inputs again, which are read anew and must not have changed since.
        corpus = _read_again(source, loaded.resume, paths, report)
        if corpus is None or [(s.kind, s.documents, s.stamp) for s in corpus.sources] != [
                (s.kind, s.documents, s.stamp) for s in info.sources]:
            for name in names:
                report(name, "changed since it was read; not written")
            return ShardWrite(WriteSummary(0, 0, 0), tuple(failed))
    else:
        sources = tuple(s._replace(name=path) for s, path in zip(info.sources, paths))
        corpus = _SizedFiles(DocumentNames(sources), bytearray(), original, b"", sources, tuple(paths), source.field)
        object.__setattr__(corpus, "_kept", kept)
        object.__setattr__(corpus, "_sizes", [b - a for a, b in zip(original, original[1:])])
    written = write_deduplicated(corpus, out, kept, report=report, mirrored=names, taken=taken, cut=source.cut,
                                 resume=loaded.resume)
    return ShardWrite(written, tuple(failed))


def _read_again(source: ShardSource, resume: Union[Checkpoint, None], paths: list[str],
                report: Callable[[str, str], None]) -> Union[LoadedCorpus, None]:
    if source.cut is None:
        return load_corpus(paths, field=source.field, report=report)
    try:
        return read_piece(source, resume)[0]
    except InputError:
        return None  # its records are not those read: it changed


def make_root(out: str) -> ShardWrite:
    """Makes the output directory, which the one-machine run makes when it has nothing to write into it too."""
    try:
        Outputs(out).make_root()
    except OSError as error:
        return ShardWrite(WriteSummary(0, 0, 0), ((out, describe_error(error)),))
    return ShardWrite(WriteSummary(0, 0, 0))


@gives_back
def join_parts(out: str, name: str, path: str, field: Union[str, None], starts: Sequence[int],
               writes: Sequence[ShardWrite]) -> ShardWrite:
    """Joins the parts written from the pieces (first bytes or row groups `starts`) of the input `name` into its
    place under `out`, as the one-machine writer writes the whole (`path`: where the input is read).

    The parts go, joined or not. A piece that could not be written leaves the
    input unwritten, with the first piece's reason as the input's.
    """
    failed = next((write.failed[:1] for write in writes if write.failed), ())
    try:
        relative = mirrored_path(name)
    except InputError:
        relative = None  # every piece said so, and wrote nothing
    if relative is not None:
        parts = [output_location(out, part_path(relative, start)) for start in starts]
        try:
            if not failed:
                with Outputs(out).create(relative) as joined:
                    _join(path, field, parts, joined)
        except InputError as error:
            failed = ((name, error.reason),)
        except OSError as error:
            failed = ((name, describe_error(error)),)
        finally:
            for part in parts:
                _remove(part)
    if failed:
        return ShardWrite(WriteSummary(0, 0, 0), failed)
    summaries = [write.summary for write in writes]
    return ShardWrite(WriteSummary(*(sum(getattr(s, column) for s in summaries)
                                     for column in ("documents", "changed", "bytes_removed"))))


def _join(path: str, field: Union[str, None], parts: Sequence[str], joined: IO[bytes]) -> None:
    """The parts, in order, as one input of its kind: Parquet row groups, JSON Lines compressed once as a whole."""
    if kind_of(path, field) is Kind.PARQUET:
        join_parquet(path, parts, joined)
        return
    with gzip_writer(joined) if gzipped(path) else nullcontext(joined) as into:
        for part in parts:
            with open_stream(part) as handle:
                shutil.copyfileobj(handle, into, 1 << 20)


def _remove(location: str) -> None:
    try:
        if is_url(location):
            fs, path = url_filesystem(location)
            fs.rm(path)
        else:
            os.unlink(location)
    except OSError:
        pass  # never written
