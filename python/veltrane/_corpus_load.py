"""Reading a corpus into one contiguous buffer of documents: files, JSON Lines records, Parquet rows.

Files are listed first (their sizes stated), the buffer is allocated once for
them and each is read straight into its place; no document is copied twice.
Records and rows are not kept: only their text goes into the buffer, and the
writer reads the inputs again to mirror them.
"""
from __future__ import annotations

import array
import os
import stat
import zlib
from collections.abc import Iterable, Sequence
from dataclasses import dataclass
from typing import Union

from ._corpus_buffer import DocumentBuffer
from ._corpus_jsonl import read_jsonl, read_jsonl_piece
from ._corpus_parquet import read_parquet
from ._corpus_sources import Cut, DocumentNames, InputError, Kind, Source, gzipped, kind_of
from ._gzip_index import Checkpoint
from ._locations import URL, describe_error, is_url, open_input
from ._scan import byte_view
from ._walk import Report, list_files
from ._binary import BINARY_SNIFF

#: How a message about one record ends: the input it leaves out is named before this.
LEFT_OUT = " is left out"

Document = Union[bytes, bytearray, memoryview, str, "os.PathLike[str]", URL]


@dataclass(frozen=True)
class LoadedCorpus:
    """A corpus in memory: every document's bytes one after the other, and where they came from."""

    #: One name per document, in corpus order: its path, or PATH:N for record or row N (from 1).
    names: Sequence[str]
    #: All documents' bytes, concatenated (a record's or row's text as UTF-8).
    data: bytearray
    #: len(names) + 1 offsets: document i is data[offsets[i]:offsets[i + 1]].
    offsets: array.array[int]
    #: Per document, 1 when it is binary (a NUL byte among its first BINARY_SNIFF bytes, as scan decides), else 0.
    binary: bytes
    #: The inputs the documents came from, in order, for the writer to mirror.
    sources: tuple[Source, ...]
    #: The inputs as given (directories and URL prefixes among them), which the output must stay out of.
    roots: tuple[str, ...]
    #: The text field or column of JSON Lines and Parquet inputs, or None (every input is one document).
    field: Union[str, None]
    #: The inputs left out, each with the reason (when loaded with a `report`).
    failed: tuple[InputError, ...] = ()

    def __len__(self) -> int:
        return len(self.offsets) - 1

    def document(self, index: int) -> memoryview:
        """Document `index`: a view into `data`."""
        return memoryview(self.data)[self.offsets[index]:self.offsets[index + 1]]


def load_corpus(paths: Sequence[Union[str, os.PathLike[str]]], *, field: Union[str, None] = None,
                report: Union[Report, None] = None) -> LoadedCorpus:
    """Reads the inputs at `paths` (files, directories walked in name order, fsspec URLs) as one corpus.

    Without `field` every file is one document of its raw bytes, whatever its
    name. With `field`, each record of a JSON Lines input (.jsonl, .jsonl.gz)
    is one document, the text of its field `field`, and each row of a Parquet
    input (.parquet, needs pyarrow) one document, its value in column `field`;
    any other file is still one document of raw bytes.

    An input that cannot be read, or that holds a record without the field
    (or null, or not a string), raises InputError (a ValueError) naming it, or
    PATH:N for the record. With `report`, each such input is reported instead
    (report(name, reason)) and left out as a whole; the others are read, and
    the corpus lists what was left out in `failed`.
    """
    if isinstance(paths, (str, bytes)):
        raise TypeError(f"paths must be a sequence of paths, not one {type(paths).__name__} ({paths!r}): "
                        "write [path] for a single input")
    if field is not None and (not isinstance(field, str) or not field):
        raise ValueError(f"field must be a non-empty str or None, not {field!r}")
    arguments = [os.fspath(path) if isinstance(path, os.PathLike) else path for path in paths]
    for argument in arguments:
        if not isinstance(argument, str):
            raise TypeError(f"paths must be str or os.PathLike, not {type(argument).__name__} ({argument!r})")
    failed: list[InputError] = []

    def fail(error: InputError) -> None:
        if report is None:
            raise error
        failed.append(error)
        report(error.name, reported_reason(error))

    listing = list_files(arguments, lambda name, reason: fail(InputError(name, reason)))
    kinds = [kind_of(path, field) for path in listing.paths]
    buffer = DocumentBuffer(sum(size for size, kind in zip(listing.sizes, kinds) if kind is Kind.FILE))
    sources = []
    for path, kind in zip(listing.paths, kinds):
        mark = buffer.mark()
        try:
            sources.append(_read_source(path, kind, field, buffer))
        except InputError as error:
            buffer.rollback(mark)
            fail(error)
        except (OSError, EOFError, zlib.error) as error:
            buffer.rollback(mark)
            fail(InputError(path, describe_error(error)))
    return _finish(buffer, sources, tuple(arguments), field, tuple(failed))


def reported_reason(error: InputError) -> str:
    """What a corpus read with a `report` says of the input `error` leaves out, after its name."""
    return error.reason if error.name == error.input else f"{error.reason}; {error.input}{LEFT_OUT}"


def load_piece(path: str, cut: Cut, field: str, resume: Union[Checkpoint, None] = None) -> tuple[LoadedCorpus, int]:
    """The documents of the piece `cut` of the JSON Lines or Parquet input at `path`, and the lines they take.

    A JSON Lines piece is a range of its text's bytes (of a compressed input,
    read from the checkpoint `resume` at its start, or from the start for its
    first piece); a Parquet piece a range of its row groups, whose rows are
    its lines. One source, counted as the piece alone: its records are
    numbered from the piece's first, and so is a record in a RecordError.
    Raises InputError as `load_corpus` without a `report` does.
    """
    buffer = DocumentBuffer()
    kind = kind_of(path, field)
    compressed = kind is Kind.JSONL and gzipped(path)
    try:
        identity, stamp = _stamp(path)
        if kind is Kind.PARQUET:
            count = lines = read_parquet(path, field, buffer, cut)
        else:
            count, lines = read_jsonl_piece(path, compressed, cut, resume, field, buffer)
    except (OSError, EOFError, zlib.error) as error:
        raise InputError(path, describe_error(error)) from None
    source = Source(path, kind, 0, count, gzip=compressed, identity=identity, stamp=stamp)
    return _finish(buffer, [source], (path,), field, ()), lines


def _read_source(path: str, kind: Kind, field: Union[str, None], buffer: DocumentBuffer) -> Source:
    first = buffer.documents
    if kind is Kind.FILE:
        identity = _read_file(path, buffer)
        buffer.end_document()
        return Source(path, kind, first, 1, identity=identity)
    assert field is not None
    identity, stamp = _stamp(path)
    compressed = gzipped(path)
    count = read_jsonl(path, compressed, field, buffer) if kind is Kind.JSONL else read_parquet(path, field, buffer)
    return Source(path, kind, first, count, gzip=compressed, identity=identity, stamp=stamp)


def _read_file(path: str, buffer: DocumentBuffer) -> Union[tuple[int, int], None]:
    """Adds the file at `path` to `buffer`; returns its (device, inode) when it is local."""
    if is_url(path):
        with open_input(path) as content:
            buffer.append(content)
        return None
    fd = os.open(path, os.O_RDONLY | os.O_CLOEXEC)
    try:
        info = os.fstat(fd)
        if stat.S_ISREG(info.st_mode):
            # The size now, not as listed: a file that changed since is read as it is.
            buffer.read_file(fd, info.st_size)
        else:
            with open(fd, "rb", buffering=0, closefd=False) as stream:
                buffer.read_stream(stream)
    finally:
        os.close(fd)
    return info.st_dev, info.st_ino


def _stamp(path: str) -> tuple[Union[tuple[int, int], None], Union[tuple[int, int], None]]:
    """(device, inode) and (size, modification time) of a local input that the writer will read again."""
    if is_url(path):
        return None, None
    info = os.stat(path)
    return (info.st_dev, info.st_ino), (info.st_size, info.st_mtime_ns)


def load_documents(documents: Iterable[Document], names: Union[Sequence[str], None] = None) -> LoadedCorpus:
    """A corpus of the given documents, in order: bytes-like objects as they are, str as UTF-8, paths read as files.

    A path is an os.PathLike (pathlib.Path) or a veltrane.URL; a plain str is
    text, not a path. Documents are named by `names`, or by default by their
    path, or their index ("0", "1", ...) for data. Written back, each is a
    file named after it under the output directory.
    """
    items = list(documents)
    if names is not None:
        if isinstance(names, str) or len(names) != len(items):
            raise ValueError(f"names must be a sequence of one name per document ({len(items)}), not {names!r}")
        for name in names:
            if not isinstance(name, str):
                raise TypeError(f"names must be str, not {type(name).__name__} ({name!r})")
    paths = [_path_of(item) for item in items]
    buffer = DocumentBuffer(sum(_size(item, path) for item, path in zip(items, paths)))
    sources = []
    for index, (item, path) in enumerate(zip(items, paths)):
        name = names[index] if names is not None else path if path is not None else str(index)
        first = buffer.documents
        if path is None:
            try:
                view = byte_view(item)  # type: ignore[arg-type]
            except TypeError:
                raise TypeError(f"document {index} is {type(item).__name__}: expected bytes, str "
                                "or a path (os.PathLike, veltrane.URL)") from None
            with view:
                buffer.append(view)
            identity = None
        else:
            try:
                identity = _read_file(path, buffer)
            except OSError as error:
                raise InputError(path, describe_error(error)) from None
        buffer.end_document()
        sources.append(Source(name, Kind.DATA if path is None else Kind.FILE, first, 1, identity=identity))
    return _finish(buffer, sources, tuple(path for path in paths if path is not None), None, ())


def _path_of(item: object) -> Union[str, None]:
    if isinstance(item, URL):
        return item.url
    if isinstance(item, os.PathLike):
        return os.fsdecode(os.fspath(item))
    return None


def _size(item: object, path: Union[str, None]) -> int:
    """The bytes a document will take, as far as known without reading or encoding it (only to size the buffer)."""
    try:
        if path is not None:
            return 0 if is_url(path) else os.stat(path).st_size
        with memoryview(item) as view:  # type: ignore[arg-type]
            return view.nbytes
    except (OSError, TypeError):
        return 0  # fails below, when it is read, with its own message


def _finish(buffer: DocumentBuffer, sources: list[Source], roots: tuple[str, ...], field: Union[str, None],
            failed: tuple[InputError, ...]) -> LoadedCorpus:
    data, offsets = buffer.finish()
    binary = bytes(data.find(0, start, min(end, start + BINARY_SNIFF)) >= 0
                   for start, end in zip(offsets, offsets[1:]))
    return LoadedCorpus(DocumentNames(sources), data, offsets, binary, tuple(sources), roots, field, failed)
