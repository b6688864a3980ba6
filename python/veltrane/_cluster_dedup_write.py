"""A shard's share of the output of a deduplication on a cluster, written by its worker."""
from __future__ import annotations

import array
from dataclasses import dataclass

from ._cluster_memory import gives_back
from ._cluster_dedup_text import Loaded, ShardSource, ShardText
from ._corpus_load import LoadedCorpus, load_corpus
from ._corpus_sources import DocumentNames
from ._corpus_write import WriteSummary, write_deduplicated


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
    corpus: LoadedCorpus
    if any(s.numbered for s in info.sources):
        # Records are written into their inputs again, which are read anew and must not have changed since.
        corpus = load_corpus(paths, field=source.field, report=report)
        if [(s.kind, s.documents, s.stamp) for s in corpus.sources] != [(s.kind, s.documents, s.stamp)
                                                                         for s in info.sources]:
            for name in names:
                report(name, "changed since it was read; not written")
            return ShardWrite(WriteSummary(0, 0, 0), tuple(failed))
    else:
        sources = tuple(s._replace(name=path) for s, path in zip(info.sources, paths))
        corpus = _SizedFiles(DocumentNames(sources), bytearray(), original, b"", sources, tuple(paths), source.field)
        object.__setattr__(corpus, "_kept", kept)
        object.__setattr__(corpus, "_sizes", [b - a for a, b in zip(original, original[1:])])
    written = write_deduplicated(corpus, out, kept, report=report, mirrored=names, taken=taken)
    return ShardWrite(written, tuple(failed))
