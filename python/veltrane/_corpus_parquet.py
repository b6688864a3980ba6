"""Parquet inputs of a corpus: a document per row (one text or bytes column), and the file written back.

pyarrow is an optional dependency (`pip install 'veltrane[parquet]'`), imported
only when a Parquet input is met.
"""
from __future__ import annotations

import array
from collections.abc import Callable, Iterator, Sequence
from contextlib import contextmanager
from typing import IO, Any, Union

from ._corpus_buffer import Bytes, DocumentBuffer
from ._corpus_sources import Cut, InputError, RecordError
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


def read_parquet(name: str, field: str, buffer: DocumentBuffer, groups: Union[Cut, None] = None) -> int:
    """Adds each row's value in column `field` to `buffer` as one document; returns how many rows there were.

    Of the row groups `groups` only, when given (a piece of the input).
    Strings are taken as their UTF-8 and bytes as they are, straight from the
    column's buffers. Raises a RecordError naming NAME:N for a null value, N
    counted from the first row read.
    """
    pa, pq = _pyarrow(name)
    with _arrow_errors(pa, name), _opened(name, "rb") as where:
        parquet = pq.ParquetFile(where)
        _, kind = _text_column(pa, parquet.schema_arrow, name, field)
        width, code = (8, "q") if pa.types.is_large_string(kind) or pa.types.is_large_binary(kind) else (4, "i")
        rows = 0
        chosen = None if groups is None else list(_group_range(parquet, groups))
        for batch in parquet.iter_batches(batch_size=BATCH_ROWS, columns=[field], row_groups=chosen):
            chunk = batch.column(0)
            if chunk.null_count:
                null = rows + chunk.is_null().to_pylist().index(True) + 1
                raise RecordError(name, null, null, f"column {field!r} is null")
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


def _group_range(parquet: Any, groups: Cut) -> range:
    start, end = groups
    return range(start, parquet.metadata.num_row_groups if end is None else end)


def write_parquet(name: str, field: str, documents: range, out: Union[str, IO[bytes]],
                  original: Callable[[int], Bytes], kept: Callable[[int], Bytes],
                  groups: Union[Cut, None] = None) -> tuple[int, int]:
    """Writes the input at `name` again to `out`, row i's value in `field` replaced by kept(documents[i]).

    Row group by row group: the schema and its metadata, the other columns'
    values and the codecs stay as they were. Only the row groups `groups`,
    when given: a part of the input, for `join_parquet`. Returns (rows
    changed, bytes removed). Raises InputError when the input (or the part)
    no longer holds len(documents) rows, or when the text kept of a string
    column is not valid UTF-8.
    """
    pa, pq = _pyarrow(name)
    changed = removed = 0
    with _arrow_errors(pa, name), _opened(name, "rb") as where:
        parquet = pq.ParquetFile(where)
        schema = parquet.schema_arrow
        index, kind = _text_column(pa, schema, name, field)
        chosen = _group_range(parquet, groups or (0, None))
        rows = sum(parquet.metadata.row_group(group).num_rows for group in chosen)
        if rows != len(documents):
            raise InputError(name, f"changed since it was read ({rows} rows, not {len(documents)})")
        as_bytes = pa.large_binary() if pa.types.is_large_string(kind) or pa.types.is_large_binary(kind) else pa.binary()
        row = 0
        with pq.ParquetWriter(out, schema, compression=_compression(parquet)) as writer:
            for group in chosen:
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


def group_sizes(name: str, field: str) -> list[int]:
    """The bytes of column `field` in each row group of the input, uncompressed, from its footer alone."""
    pa, pq = _pyarrow(name)
    with _arrow_errors(pa, name), _opened(name, "rb") as where:
        metadata = pq.ParquetFile(where).metadata
        if metadata.num_row_groups == 0:
            return []
        first = metadata.row_group(0)
        # Columns of a nested type before it take several places: look the column up by its path.
        column = next((j for j in range(first.num_columns) if first.column(j).path_in_schema == field), None)
        if column is None:
            return []  # the reader says what is wrong with it
        return [metadata.row_group(group).column(column).total_uncompressed_size
                for group in range(metadata.num_row_groups)]


def join_parquet(name: str, parts: Sequence[str], out: IO[bytes]) -> None:
    """Writes the parts that `write_parquet` wrote of the input `name`'s row groups to `out` as its whole would be.

    Row group by row group again, with the input's schema and codecs: the
    same bytes as one `write_parquet` of the whole input.
    """
    pa, pq = _pyarrow(name)
    with _arrow_errors(pa, name):
        with _opened(name, "rb") as where:
            parquet = pq.ParquetFile(where)
            schema, compression = parquet.schema_arrow, _compression(parquet)
        with pq.ParquetWriter(out, schema, compression=compression) as writer:
            for part in parts:
                with _opened(part, "rb") as read:
                    written = pq.ParquetFile(read)
                    for group in range(written.metadata.num_row_groups):
                        table = written.read_row_group(group)
                        writer.write_table(table, row_group_size=max(1, table.num_rows))
