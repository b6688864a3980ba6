"""Parquet inputs of a corpus: a document per row (one text or bytes column), and the file written back.

pyarrow is an optional dependency (`pip install 'veltrane[parquet]'`), imported
only when a Parquet input is met.
"""
from __future__ import annotations

import array
from collections.abc import Callable, Iterator
from contextlib import contextmanager
from typing import IO, Any, Union

from ._corpus_buffer import Bytes, DocumentBuffer
from ._corpus_sources import InputError
from ._locations import MissingExtra, is_url, url_filesystem

#: What to install for Parquet inputs; named in the message about its absence.
PARQUET_EXTRA = "pip install 'veltrane[parquet]'"

#: Rows read at a time: the column's memory stays small whatever the file's size.
BATCH_ROWS = 1 << 16


def _pyarrow(name: str) -> tuple[Any, Any]:
    try:
        import pyarrow  # type: ignore[import-untyped,import-not-found,unused-ignore]
        import pyarrow.parquet  # type: ignore[import-untyped,import-not-found,unused-ignore]
    except ImportError:
        raise MissingExtra(f"{name}: reading Parquet needs pyarrow: {PARQUET_EXTRA}") from None
    return pyarrow, pyarrow.parquet


@contextmanager
def _opened(name: str, mode: str) -> Iterator[Union[str, IO[bytes]]]:
    """What pyarrow opens: a local path as it is (pyarrow reads it itself), a URL's file through fsspec."""
    if not is_url(name):
        yield name
        return
    fs, path = url_filesystem(name)
    with fs.open(path, mode) as handle:
        yield handle


def _text_column(pa: Any, schema: Any, name: str, field: str) -> tuple[int, Any]:
    """The index and type of column `field`; InputError unless it holds strings or bytes."""
    if schema.get_all_field_indices(field) == []:
        raise InputError(name, f"no column {field!r} (its columns: {', '.join(schema.names)})")
    if len(schema.get_all_field_indices(field)) > 1:
        raise InputError(name, f"several columns are named {field!r}")
    index = schema.get_field_index(field)
    kind = schema.field(index).type
    if not (pa.types.is_string(kind) or pa.types.is_large_string(kind)
            or pa.types.is_binary(kind) or pa.types.is_large_binary(kind)):
        raise InputError(name, f"column {field!r} holds {kind}, not strings or bytes")
    return index, kind


@contextmanager
def _arrow_errors(pa: Any, name: str) -> Iterator[None]:
    """pyarrow's own errors (a damaged file, a failed read) as the input's one-line reason."""
    try:
        yield
    except pa.ArrowException as error:
        if isinstance(error, OSError):
            raise  # described like any other failed read
        raise InputError(name, f"not a readable Parquet file ({error})") from None


def read_parquet(name: str, field: str, buffer: DocumentBuffer) -> int:
    """Adds each row's value in column `field` to `buffer` as one document; returns how many rows there were.

    Strings are taken as their UTF-8 and bytes as they are, straight from the
    column's buffers. Raises InputError naming NAME:N for a null value.
    """
    pa, pq = _pyarrow(name)
    with _arrow_errors(pa, name), _opened(name, "rb") as where:
        parquet = pq.ParquetFile(where)
        _, kind = _text_column(pa, parquet.schema_arrow, name, field)
        width, code = (8, "q") if pa.types.is_large_string(kind) or pa.types.is_large_binary(kind) else (4, "i")
        rows = 0
        for batch in parquet.iter_batches(batch_size=BATCH_ROWS, columns=[field]):
            chunk = batch.column(0)
            if chunk.null_count:
                null = chunk.is_null().to_pylist().index(True)
                raise InputError(f"{name}:{rows + null + 1}", f"column {field!r} is null", input=name)
            _append_chunk(chunk, width, code, buffer)
            rows += len(chunk)
        return rows


def _append_chunk(chunk: Any, width: int, code: str, buffer: DocumentBuffer) -> None:
    if not len(chunk):
        return
    _, offsets_buffer, data_buffer = chunk.buffers()
    ends = array.array(code)
    with memoryview(offsets_buffer) as offsets:
        ends.frombytes(offsets[chunk.offset * width:(chunk.offset + len(chunk) + 1) * width])
    start, end = ends[0], ends[-1]
    shift = buffer.used - start
    if end > start:
        with memoryview(data_buffer) as data:
            buffer.append(data[start:end])
    buffer.end_documents(ends[1:], shift)


def _compression(parquet: Any) -> Union[str, dict[str, str]]:
    """The input's codecs, as ParquetWriter takes them: one name, or one per column when they differ."""
    if parquet.metadata.num_row_groups == 0:
        return "snappy"
    group = parquet.metadata.row_group(0)
    codecs = {group.column(j).path_in_schema: _codec_name(group.column(j).compression)
              for j in range(group.num_columns)}
    names = set(codecs.values())
    return names.pop() if len(names) == 1 else codecs


def _codec_name(codec: str) -> str:
    lower = codec.lower()
    return {"uncompressed": "none", "lz4_raw": "lz4"}.get(lower, lower)


def write_parquet(name: str, field: str, documents: range, out: Union[str, IO[bytes]],
                  original: Callable[[int], Bytes], kept: Callable[[int], Bytes]) -> tuple[int, int]:
    """Writes the input at `name` again to `out`, row i's value in `field` replaced by kept(documents[i]).

    Row group by row group: the schema and its metadata, the other columns'
    values and the codecs stay as they were. Returns (rows changed, bytes removed).
    Raises InputError when the input no longer holds len(documents) rows, or
    when the text kept of a string column is not valid UTF-8.
    """
    pa, pq = _pyarrow(name)
    changed = removed = 0
    with _arrow_errors(pa, name), _opened(name, "rb") as where:
        parquet = pq.ParquetFile(where)
        schema = parquet.schema_arrow
        index, kind = _text_column(pa, schema, name, field)
        if parquet.metadata.num_rows != len(documents):
            raise InputError(name, f"changed since it was read ({parquet.metadata.num_rows} rows, not {len(documents)})")
        as_bytes = pa.large_binary() if pa.types.is_large_string(kind) or pa.types.is_large_binary(kind) else pa.binary()
        row = 0
        with pq.ParquetWriter(out, schema, compression=_compression(parquet)) as writer:
            for group in range(parquet.metadata.num_row_groups):
                table = parquet.read_row_group(group)
                values = []
                for document in documents[row:row + table.num_rows]:
                    before, after = original(document), kept(document)
                    if before != after:
                        changed += 1
                        removed += len(before) - len(after)
                    values.append(bytes(after))
                try:
                    column = pa.array(values, type=as_bytes).cast(kind)
                except pa.ArrowInvalid:
                    raise InputError(name, f"the text kept of column {field!r} is not valid UTF-8 "
                                     "(removals must not split a character)") from None
                writer.write_table(table.set_column(index, schema.field(index), column), row_group_size=max(1, table.num_rows))
                row += table.num_rows
    return changed, removed
