"""Writing a deduplicated corpus back, mirroring its inputs: files as files, JSON Lines and Parquet re-written."""
from __future__ import annotations

import os
import zlib
from collections.abc import Callable, Mapping, Sequence
from dataclasses import dataclass
from typing import IO, Union

from ._corpus_buffer import Bytes
from ._corpus_jsonl import write_jsonl
from ._corpus_load import LoadedCorpus
from ._corpus_outputs import Outputs, mirrored_path, part_path, refuse_overwriting
from ._corpus_parquet import write_parquet
from ._gzip_index import Checkpoint
from ._corpus_sources import Cut, InputError, Kind, Source
from ._locations import describe_error
from ._walk import Report

Kept = Callable[[int], Union[bytes, bytearray, memoryview]]


@dataclass(frozen=True)
class WriteSummary:
    """What `write_deduplicated` wrote."""

    #: Documents written (those of the inputs that failed are not counted).
    documents: int
    #: Documents written with something removed.
    changed: int
    #: Bytes removed from the documents written (of records' and rows' text: its UTF-8).
    bytes_removed: int
    #: The inputs that could not be written, each with the reason (when written with a `report`).
    failed: tuple[InputError, ...] = ()


def write_deduplicated(corpus: LoadedCorpus, out: str, kept: Kept, *,
                       report: Union[Report, None] = None, mirrored: Union[Sequence[str], None] = None,
                       taken: Union[Mapping[str, str], None] = None, cut: Union[Cut, None] = None,
                       resume: Union[Checkpoint, None] = None) -> WriteSummary:
    """Writes every document i as kept(i) under `out` (a directory or fsspec URL), mirroring the inputs.

    A file goes to OUT/<its name without a root "/" or URL scheme>
    (see `mirrored_path`). A JSON Lines input is written there again, through
    gzip if it was compressed, with each record's field replaced by its kept
    text; a record whose document did not change is copied byte for byte. A
    Parquet input is written again with the column replaced, its schema,
    metadata, row groups and other columns as they were. Documents loaded as
    data are written as files named after them.

    `mirrored` names the inputs as they are placed under the output, one per
    source, when they were read by other names (a cluster's workers read them
    by absolute path). `taken` maps the places under the output that inputs
    before these take (relative path to input name), when the corpus is
    written in parts (a cluster's shards): an input placed there is not
    written, as if the inputs had been written together. `cut`: the corpus is
    that piece of its one input, a JSON Lines or Parquet one (a cluster's
    shard; `resume`: the checkpoint it is read from, see `load_piece`); its
    lines (not compressed) or row groups go to the part beside the input's
    place (`part_path`), for the parts to be joined in order.

    Raises ValueError before writing anything when the output would write over
    an input (it is one, or lies inside an input directory), or cannot be made. An input that
    cannot be written (it changed since it was loaded, its kept text is not
    valid UTF-8, the output fails) raises InputError, or with `report` is
    reported, written nowhere, and listed in the summary's `failed`; the others
    are written.
    """
    if not isinstance(out, str) or not out:
        raise ValueError(f"out must be a non-empty path or URL, not {out!r}")
    refuse_overwriting(out, corpus.roots, corpus.sources)
    outputs = Outputs(out)
    try:
        outputs.make_root()
    except OSError as error:
        raise InputError(out, describe_error(error)) from None
    checked = _checked(kept)
    documents = changed = removed = 0
    failed: list[InputError] = []
    targets: dict[str, str] = dict(taken or {})
    for index, source in enumerate(corpus.sources):
        try:
            relative = mirrored_path(source.name if mirrored is None else mirrored[index])
            if relative in targets:
                raise InputError(source.name, f"would be written where {targets[relative]} is "
                                 f"({relative} under the output); written once only")
            targets[relative] = source.name if mirrored is None else mirrored[index]
            _check_unchanged(source)
            with outputs.create(relative if cut is None else part_path(relative, cut[0])) as handle:
                source_changed, source_removed = _write_source(corpus, source, handle, checked, cut, resume)
        except InputError as error:
            failed.append(error)
        except (OSError, EOFError, zlib.error) as error:
            reason = describe_error(error)
            where = getattr(error, "filename", None)
            failed.append(InputError(source.name, f"{reason} ({where})" if where and where != source.name else reason))
        else:
            documents += source.documents
            changed += source_changed
            removed += source_removed
            continue
        if report is None:
            raise failed[-1]
        report(failed[-1].name, failed[-1].reason)
    return WriteSummary(documents, changed, removed, tuple(failed))


def _checked(kept: Kept) -> Callable[[int], Bytes]:
    def call(index: int) -> Bytes:
        result = kept(index)
        if not isinstance(result, (bytes, bytearray, memoryview)):
            raise TypeError(f"kept({index}) returned {type(result).__name__}, not bytes")
        return result

    return call


def _check_unchanged(source: Source) -> None:
    if source.stamp is None:
        return
    info = os.stat(source.name)
    if (info.st_size, info.st_mtime_ns) != source.stamp:
        raise InputError(source.name, "changed since it was read; not written")


def _write_source(corpus: LoadedCorpus, source: Source, handle: IO[bytes], kept: Callable[[int], Bytes],
                  cut: Union[Cut, None], resume: Union[Checkpoint, None]) -> tuple[int, int]:
    """Writes one input's documents (or its piece `cut`'s); returns (documents changed, bytes removed)."""
    documents = range(source.first, source.first + source.documents)
    assert corpus.field is not None or source.kind in (Kind.FILE, Kind.DATA)
    assert cut is None or source.kind in (Kind.JSONL, Kind.PARQUET)
    if source.kind is Kind.JSONL:
        return write_jsonl(source.name, source.gzip, corpus.field or "", documents, handle, corpus.document, kept,
                           cut, resume)
    if source.kind is Kind.PARQUET:
        return write_parquet(source.name, corpus.field or "", documents, handle, corpus.document, kept, cut)
    after = kept(source.first)
    handle.write(after)
    with corpus.document(source.first) as before:
        return (0, 0) if before == after else (1, len(before) - len(after))
