"""JSON Lines inputs of a corpus: a document per record (one text field), and the records written back.

A record is a non-blank line holding a JSON object; records are numbered from
1 and blank lines are not counted (an error names the line too when the two
differ). Written back, a record keeps every byte outside its field's value:
the other fields' spelling, their order, spacing and line ending.

An input can also be read and written as pieces, byte ranges [start, end) of
its text (of a compressed one, the text gzip gives, read from a checkpoint at
the piece's start: _gzip_index.py): a piece's lines are those that start in
its range (a line starts at byte 0 or right after a newline), so pieces that
cover the input hold every line once, wherever they were cut.
"""
from __future__ import annotations

import gzip
import json
import re
from collections.abc import Callable, Iterable, Iterator
from contextlib import ExitStack, contextmanager
from typing import IO, Any, Union, cast

from ._corpus_buffer import Bytes, DocumentBuffer
from ._corpus_sources import Cut, InputError, RecordError
from ._gzip_index import Checkpoint, open_at
from ._locations import open_stream

#: gzip's level for rewritten inputs: its default (9) costs twice the time for a file a percent smaller.
GZIP_LEVEL = 6

_WHITESPACE = re.compile(r"[ \t\n\r]*")
_DECODER = json.JSONDecoder()


@contextmanager
def open_lines(name: str, compressed: bool) -> Iterator[IO[bytes]]:
    """The input at `name` (a path or URL) for reading line by line, through gzip when compressed."""
    with ExitStack() as stack:
        raw = stack.enter_context(open_stream(name))
        yield cast(IO[bytes], stack.enter_context(gzip.GzipFile(fileobj=raw, mode="rb"))) if compressed else raw


@contextmanager
def open_piece(name: str, compressed: bool, cut: Cut, resume: Union[Checkpoint, None]) -> Iterator[Iterator[bytes]]:
    """The lines of the piece `cut` of the input at `name`.

    A compressed input's piece is read from `resume`, the checkpoint at its
    first byte, or from the input's start for its first piece (resume None).
    """
    assert resume is None or (compressed and resume.position == cut[0])
    assert resume is not None or not compressed or cut[0] == 0
    with ExitStack() as stack:
        if resume is None:
            yield piece_lines(stack.enter_context(open_lines(name, compressed)), cut)
            return
        raw = stack.enter_context(open_stream(name))
        yield piece_lines(stack.enter_context(open_at(raw, resume)), cut, before=resume.window)


def piece_lines(handle: IO[bytes], cut: Cut, before: Union[bytes, None] = None) -> Iterator[bytes]:
    """The lines of `handle` that start in the byte range `cut`, the last one whole even past its end.

    The handle is seekable; or, with `before`, it starts at byte `start`
    already and `before` are the bytes that end there (a compressed input
    resumed at a checkpoint).
    """
    start, end = cut
    position = 0
    if before is not None:
        # A line starts at `start` exactly when the byte before it ends one; else that line is an earlier piece's.
        position = start if before.endswith(b"\n") else start + len(handle.readline())
    elif start > 0:
        handle.seek(start - 1)
        # The line holding byte start - 1 belongs to an earlier piece; the next one starts at start or after.
        position = start - 1 + len(handle.readline())
    for line in handle:
        if end is not None and position >= end:
            return
        yield line
        position += len(line)


def field_text(record: Any, field: str) -> Union[str, None]:
    """The text of `field` in a parsed record; None when the record is no object or lacks it."""
    return record.get(field) if isinstance(record, dict) else None


def read_jsonl(name: str, compressed: bool, field: str, buffer: DocumentBuffer) -> int:
    """Adds each record's `field` to `buffer` as one document (its UTF-8); returns how many records there were.

    Raises InputError naming NAME:N (a RecordError) for a record that is not a
    JSON object, or whose field is missing, not a string or not encodable as UTF-8.
    """
    with open_lines(name, compressed) as lines:
        return read_records(name, lines, field, buffer)[0]


def read_jsonl_piece(name: str, compressed: bool, cut: Cut, resume: Union[Checkpoint, None], field: str,
                     buffer: DocumentBuffer) -> tuple[int, int]:
    """`read_jsonl` of the piece `cut` (see `open_piece`); returns (records, lines), both of the piece.

    A RecordError numbers the record and its line from the piece's first.
    """
    with open_piece(name, compressed, cut, resume) as lines:
        return read_records(name, lines, field, buffer)


def read_records(name: str, lines: Iterable[bytes], field: str, buffer: DocumentBuffer) -> tuple[int, int]:
    """Adds the record of each of `lines` to `buffer` (blank lines are none); returns (records, lines)."""
    count = line_number = 0
    for line_number, line in enumerate(lines, 1):
        if not line.strip():
            continue
        count += 1
        text = _parse(name, count, line_number, line, field)
        try:
            encoded = text.encode("utf-8")
        except UnicodeEncodeError as error:
            raise RecordError(name, count, line_number, f"field {field!r} holds a lone surrogate "
                              f"(\\u{ord(text[error.start]):04x}), which UTF-8 cannot carry") from None
        buffer.append(encoded)
        buffer.end_document()
    return count, line_number


def _parse(name: str, number: int, line_number: int, line: bytes, field: str) -> str:
    def fail(reason: str) -> InputError:
        return RecordError(name, number, line_number, reason)

    try:
        record = json.loads(line)
    except UnicodeDecodeError as error:
        raise fail(f"not valid UTF-8 (byte {error.start + 1} of the record)") from None
    except ValueError as error:
        raise fail(f"not valid JSON ({getattr(error, 'msg', error)} at column {getattr(error, 'colno', '?')})") from None
    if not isinstance(record, dict):
        raise fail(f"a JSON {_json_type(record)}, not an object with a field {field!r}")
    if field not in record:
        raise fail(f"no field {field!r}")
    value = record[field]
    if not isinstance(value, str):
        raise fail(f"field {field!r} is {_json_type(value, article=True)}, not a string")
    return value


def _json_type(value: Any, *, article: bool = False) -> str:
    if value is None:
        return "null"
    kind = {bool: "boolean", int: "number", float: "number", str: "string", list: "array", dict: "object"}[type(value)]
    return (("an " if kind[0] in "ao" else "a ") + kind) if article else kind


def field_span(text: str, field: str) -> Union[tuple[int, int], None]:
    """Where the value of `field` lies in `text`, a valid JSON object; the last one when the key repeats.

    (json.loads keeps the last of repeated keys, so that is the one that was read.)
    """
    def skip(position: int) -> int:
        return position + len(_WHITESPACE.match(text, position).group())  # type: ignore[union-attr]

    span = None
    position = skip(skip(1 if text.startswith("\ufeff") else 0) + 1)  # past "{"
    if text[position] == "}":
        return None
    while True:
        key, position = _DECODER.raw_decode(text, position)
        start = skip(skip(position) + 1)  # past ":"
        _, end = _DECODER.raw_decode(text, start)
        if key == field:
            span = (start, end)
        position = skip(end)
        if text[position] == "}":
            return span
        position = skip(position + 1)  # past ","


def edited_record(line: bytes, field: str, original: Bytes, kept: Bytes, name: str) -> bytes:
    """`line` with the value of `field` (whose UTF-8 was `original`) replaced by the text whose UTF-8 is `kept`.

    The new value is written with escapes for non-ASCII characters when the old
    one was (an ASCII-only file stays ASCII-only). Raises InputError when the
    line no longer holds `original` (the input changed since it was read) or
    `kept` is not valid UTF-8.
    """
    text = line.decode("utf-8")
    span = field_span(text, field)
    old = json.loads(text[span[0]:span[1]]) if span else None
    if not isinstance(old, str) or old.encode("utf-8") != original:
        raise InputError(name, f"changed since it was read (field {field!r} is not what was read)")
    try:
        new = bytes(kept).decode("utf-8")
    except UnicodeDecodeError as error:
        raise InputError(name, f"the text kept of field {field!r} is not valid UTF-8 (byte {error.start + 1}): "
                         "removals must not split a character") from None
    assert span is not None
    escaped = text[span[0]:span[1]].isascii() and not old.isascii()
    return (text[:span[0]] + json.dumps(new, ensure_ascii=escaped) + text[span[1]:]).encode("utf-8")


@contextmanager
def gzip_writer(out: IO[bytes]) -> Iterator[IO[bytes]]:
    """`out` through gzip, as every rewritten compressed input is: its bytes depend on nothing but what is written."""
    with gzip.GzipFile(fileobj=out, mode="wb", compresslevel=GZIP_LEVEL, mtime=0) as compressed:
        yield cast(IO[bytes], compressed)


def write_jsonl(name: str, compressed: bool, field: str, documents: range, out: IO[bytes],
                original: Callable[[int], Bytes], kept: Callable[[int], Bytes],
                cut: Union[Cut, None] = None, resume: Union[Checkpoint, None] = None) -> tuple[int, int]:
    """Copies the input at `name` to `out`, record i's field (document documents[i - 1]) replaced by kept(...).

    Through gzip when compressed; only the lines of the piece `cut` (see
    `open_piece`), not compressed, for the parts to be joined and compressed
    as one (`gzip_writer`). A record whose document did not change is copied
    byte for byte, without being parsed; so are blank lines. Returns (records
    changed, bytes removed). Raises InputError when the input no longer holds
    len(documents) records.
    """
    changed = removed = count = 0
    with ExitStack() as stack:
        if cut is None:
            lines: Iterable[bytes] = stack.enter_context(open_lines(name, compressed))
            if compressed:
                out = stack.enter_context(gzip_writer(out))
        else:
            lines = stack.enter_context(open_piece(name, compressed, cut, resume))
        for line in lines:
            if not line.strip():
                out.write(line)
                continue
            if count == len(documents):
                raise InputError(name, f"changed since it was read (more than {count} records)")
            index = documents[count]
            count += 1
            before, after = original(index), kept(index)
            if before == after:
                out.write(line)
                continue
            out.write(edited_record(line, field, before, after, f"{name}:{count}"))
            changed += 1
            removed += len(before) - len(after)
        if count != len(documents):
            raise InputError(name, f"changed since it was read ({count} records, not {len(documents)})")
    return changed, removed
