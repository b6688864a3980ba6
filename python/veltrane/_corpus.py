"""What the documents of a corpus share, and its exact deduplication.

Documents are any iterable of bytes-like objects, str (searched as UTF-8) and
paths (os.PathLike, read as files). Positions are byte offsets inside a
document; nothing ever crosses from one document into the next.
"""
from __future__ import annotations

import os
from collections.abc import Iterable, Iterator, Sequence
from dataclasses import dataclass
from typing import Literal, Union

from . import _engine
from ._corpus_load import LoadedCorpus, load_documents
from ._locations import URL
from ._repeats import LeftOut, Rank, RankedColumns, u64_column

__all__ = ["DuplicateSpans", "Occurrence", "SharedRepeat", "SharedRepeats", "deduplicate", "duplicate_spans",
           "shared_repeats"]

Keep = Literal["first", "none"]
Document = Union[bytes, bytearray, memoryview, str, "os.PathLike[str]", URL]

#: The repetition of a corpus is counted in spans of this many bytes or more by default, the threshold
#: exact substring deduplication of training corpora uses.
CORPUS_MIN_LENGTH = 100


def _engine_view(corpus: LoadedCorpus) -> memoryview:
    # The buffer is the corpus's own and nothing else writes it: read only, the engine reads it in place.
    return memoryview(corpus.data).toreadonly()


@dataclass(frozen=True)
class Occurrence:
    """One occurrence: bytes [start, end) of document `document` (its index), named `name`;
    `line` and `end_line` (from 1) of its first and last byte, None for a binary document."""

    document: int
    name: str
    start: int
    end: int
    line: Union[int, None]
    end_line: Union[int, None]


@dataclass(frozen=True)
class SharedRepeat:
    """A fragment of `length` bytes with `count` greedy non-overlapping occurrences in
    `documents` documents; `score` is what the rank orders by (`saved` for "savings")."""

    length: int
    count: int
    score: int
    documents: int
    occurrences: tuple[Occurrence, ...]

    @property
    def saved(self) -> int:
        """The bytes storing the fragment once saves: (count - 1) * length."""
        return (self.count - 1) * self.length


class SharedRepeats(RankedColumns[SharedRepeat]):
    """What documents share, in rank order, with its columns as unsigned 64-bit buffers.

    Per fragment: `lengths`, `counts`, `scores`, `documents_touched`, and `offsets`
    (one more than there are fragments); fragment i's occurrences are rows
    offsets[i] to offsets[i + 1] of the occurrence columns `documents` (index into
    `names`), `starts`, `ends`, `lines` and `end_lines` (0 where a document is
    binary). `names` names the documents in corpus order.
    """

    def __init__(self, columns: dict[str, object], names: Sequence[str], binary: bytes) -> None:
        self.names = names
        self.lengths, self.counts, self.scores = u64_column(columns, "lengths"), u64_column(columns, "counts"), u64_column(columns, "scores")
        self.documents_touched, self.offsets = u64_column(columns, "documents_touched"), u64_column(columns, "offsets")
        self.documents, self.starts = u64_column(columns, "documents"), u64_column(columns, "document_starts")
        self.ends = u64_column(columns, "document_ends")
        self.lines, self.end_lines = u64_column(columns, "lines"), u64_column(columns, "end_lines")
        self._binary = binary
        self.left_out = LeftOut.from_columns(columns)

    def _item(self, i: int) -> SharedRepeat:
        length = self.lengths[i]
        occurrences = []
        for row in range(self.offsets[i], self.offsets[i + 1]):
            document, start = self.documents[row], self.starts[row]
            text = not self._binary[document]
            occurrences.append(Occurrence(document, self.names[document], start, start + length,
                                          self.lines[row] if text else None, self.end_lines[row] if text else None))
        return SharedRepeat(length, self.counts[i], self.scores[i], self.documents_touched[i], tuple(occurrences))

    def __repr__(self) -> str:
        return f"SharedRepeats({list(self)!r}, left_out={self.left_out!r})"


@dataclass(frozen=True)
class DuplicateSpans:
    """The byte ranges deduplication removes: range i is [starts[i], ends[i]) of document
    documents[i] (an index into `names`), ascending; memoryviews of format "Q". Removing them
    all leaves a fixed point: deduplicating the result again removes nothing. `passes` counts
    the passes that took (the last removed nothing)."""

    names: Sequence[str]
    documents: memoryview
    starts: memoryview
    ends: memoryview
    passes: int
    removed_bytes: int

    def __len__(self) -> int:
        return len(self.documents)

    def __iter__(self) -> Iterator[tuple[int, int, int]]:
        return zip(self.documents, self.starts, self.ends)

    def kept(self, corpus: LoadedCorpus) -> list[bytes]:
        """Every document of `corpus` (the one these spans were found in) without its spans."""
        return [self.kept_document(corpus, i) for i in range(len(corpus))]

    def kept_document(self, corpus: LoadedCorpus, index: int) -> bytes:
        """Document `index` of `corpus` without its spans."""
        rows = self._rows()
        first, last = rows.get(index, (0, 0))
        return document_without(corpus.document(index), zip(self.starts[first:last], self.ends[first:last]))

    def _rows(self) -> dict[int, tuple[int, int]]:
        # Rows of each document's spans, found once (the columns are sorted by document).
        rows: dict[int, tuple[int, int]] = self.__dict__.get("_rows_of", {})
        if not rows and len(self):
            for row, document in enumerate(self.documents):
                first, _ = rows.get(document, (row, row))
                rows[document] = (first, row + 1)
            object.__setattr__(self, "_rows_of", rows)
        return rows


def document_without(document: memoryview, spans: Iterable[tuple[int, int]]) -> bytes:
    """The bytes of `document` outside the ascending, disjoint `spans`."""
    parts, at = [], 0
    for start, end in spans:
        parts.append(document[at:start])
        at = end
    parts.append(document[at:])
    return b"".join(parts)


def _corpus(documents: Union[Iterable[Document], LoadedCorpus], names: Union[Sequence[str], None]) -> LoadedCorpus:
    if isinstance(documents, LoadedCorpus):
        return documents
    if isinstance(documents, (bytes, bytearray, memoryview, str)):
        raise TypeError("documents must be an iterable of documents (a list of bytes, str or paths), "
                        f"not one {type(documents).__name__}")
    return load_documents(documents, names)


def _check_counts(**values: Union[int, None]) -> None:
    for name, value in values.items():
        if value is not None and value < 0:
            raise ValueError(f"{name} must not be negative, not {value}")


def shared_repeats(
    documents: Union[Iterable[Document], LoadedCorpus],
    *,
    names: Union[Sequence[str], None] = None,
    top: Union[int, None] = 20,
    min_count: int = 2,
    min_length: int = CORPUS_MIN_LENGTH,
    max_length: Union[int, None] = None,
    rank: Rank = "savings",
    maximal: bool = True,
    exclude_periodic: bool = True,
    min_entropy: Union[float, None] = None,
    non_overlap: bool = True,
) -> SharedRepeats:
    """The fragments the documents share (or that repeat inside one), best first.

    The same search and options as `veltrane.repeats` on the documents' bytes one
    after another, except that no occurrence crosses from one document into the
    next, and `min_length` defaults to 100 bytes. `names` names the documents
    (default: a path's name, else its index). `min_count` must be at least 2.
    """
    _check_counts(top=top, min_count=min_count, min_length=min_length, max_length=max_length)
    corpus = _corpus(documents, names)
    columns = _engine.corpus_repeats(_engine_view(corpus), corpus.offsets, top, min_count, min_length, max_length,
                                     rank, maximal, exclude_periodic, min_entropy, non_overlap)
    return SharedRepeats(columns, corpus.names, corpus.binary)


def duplicate_spans(
    documents: Union[Iterable[Document], LoadedCorpus],
    *,
    names: Union[Sequence[str], None] = None,
    min_length: int = CORPUS_MIN_LENGTH,
    keep: Keep = "first",
    whole_lines: bool = False,
) -> DuplicateSpans:
    """The byte ranges exact deduplication removes from the documents.

    With keep="first" a byte is a duplicate when a window of `min_length` bytes of
    its document that covers it occurred earlier in the corpus (earlier in the
    same document, overlapping or not, or anywhere in an earlier one); with
    keep="none" when such a window occurs at least twice anywhere. Each maximal
    range of duplicate bytes is shrunk to whole UTF-8 characters (and with
    `whole_lines` to whole lines, each ending after its newline or at the
    document's end). Removing bytes can make new windows repeat, so passes run
    until one removes nothing: removing the ranges returned leaves a corpus whose
    deduplication removes nothing.
    """
    _check_counts(min_length=min_length)
    if min_length < 1:
        raise ValueError(f"min_length must be at least 1, not {min_length}")
    if keep not in ("first", "none"):
        raise ValueError(f"keep must be 'first' or 'none', not {keep!r}")
    corpus = _corpus(documents, names)
    columns = _engine.corpus_dedup(_engine_view(corpus), corpus.offsets, min_length, keep, whole_lines)
    return DuplicateSpans(corpus.names, u64_column(columns, "documents"), u64_column(columns, "starts"), u64_column(columns, "ends"),
                          int(columns["passes"]), int(columns["removed_bytes"]))


def deduplicate(
    documents: Iterable[Document],
    *,
    min_length: int = CORPUS_MIN_LENGTH,
    keep: Keep = "first",
    whole_lines: bool = False,
) -> list[Union[bytes, str]]:
    """The documents after exact deduplication (see `duplicate_spans`), in order: a str
    comes back as a str, anything else as bytes."""
    items = list(documents)
    corpus = _corpus(items, None)
    spans = duplicate_spans(corpus, min_length=min_length, keep=keep, whole_lines=whole_lines)
    kept = spans.kept(corpus)
    return [text.decode("utf-8") if isinstance(item, str) else text for item, text in zip(items, kept)]
