"""JSON Lines inputs of a corpus: a document per record (one text field), and the records written back.

A record is a non-blank line holding a JSON object; records are numbered from
1 and blank lines are not counted (an error names the line too when the two
differ). Written back, a record keeps every byte outside its field's value:
the other fields' spelling, their order, spacing and line ending.

An uncompressed input can also be read and written as pieces, byte ranges
[start, end) of it: a piece's lines are those that start in its range (a line
starts at byte 0 or right after a newline), so pieces that cover the input
hold every line once, wherever they were cut.
"""
from __future__ import annotations

import gzip
import json
import re
from collections.abc import Callable, Iterable, Iterator
from contextlib import ExitStack, contextmanager
from typing import IO, Any, Union, cast

from ._corpus_buffer import Bytes, DocumentBuffer
from ._corpus_sources import InputError
from ._locations import is_url, url_filesystem

#: gzip's level for rewritten inputs: its default (9) costs twice the time for a file a percent smaller.
GZIP_LEVEL = 6

#: Bytes [start, end) of an input whose lines are a piece; end None: to the input's end, however long it is now.
Cut = tuple[int, Union[int, None]]

_WHITESPACE = re.compile(r"[ \t\n\r]*")
_DECODER = json.JSONDecoder()


@contextmanager
def open_lines(name: str, compressed: bool) -> Iterator[IO[bytes]]:
    """The input at `name` (a path or URL) for reading line by line, through gzip when compressed."""
    with ExitStack() as stack:
        if is_url(name):
            fs, path = url_filesystem(name)
            raw: IO[bytes] = stack.enter_context(fs.open(path, "rb"))
        else:
            raw = stack.enter_context(open(name, "rb"))
        yield cast(IO[bytes], stack.enter_context(gzip.GzipFile(fileobj=raw, mode="rb"))) if compressed else raw


def piece_lines(handle: IO[bytes], cut: Cut) -> Iterator[bytes]:
    """The lines of the seekable `handle` that start in the byte range `cut`, the last one whole even past its end."""
    start, end = cut
    position = 0
    if start > 0:
        handle.seek(start - 1)
        # The line holding byte start - 1 belongs to an earlier piece; the next one starts at start or after.
        position = start - 1 + len(handle.readline())
    for line in handle:
        if end is not None and position >= end:
            return
        yield line
        position += len(line)


def _reason(reason: str, number: int, line_number: int) -> str:
    return reason if number == line_number else f"{reason} (line {line_number})"


class RecordError(InputError):
    """A record that is no document, as NAME:N, with its number, its line and the problem kept apart.

    (A piece of an input numbers them from its own first line: whoever knows
    the records and lines before it makes the input's numbers.)
    """

    def __init__(self, name: str, number: int, line_number: int, problem: str) -> None:
        super().__init__(f"{name}:{number}", _reason(problem, number, line_number), input=name)
        self.number = number
        self.line_number = line_number
        self.problem = problem


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


def read_jsonl_piece(name: str, cut: Cut, field: str, buffer: DocumentBuffer) -> tuple[int, int]:
    """`read_jsonl` of the piece `cut` of an uncompressed input; returns (records, lines), both of the piece.

    A RecordError numbers the record and its line from the piece's first.
    """
    with open_lines(name, False) as handle:
        return read_records(name, piece_lines(handle, cut), field, buffer)


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


def write_jsonl(name: str, compressed: bool, field: str, documents: range, out: IO[bytes],
                original: Callable[[int], Bytes], kept: Callable[[int], Bytes],
                cut: Union[Cut, None] = None) -> tuple[int, int]:
    """Copies the input at `name` (or its piece `cut`) to `out`, record i's field (document documents[i - 1])
    replaced by kept(...).

    A record whose document did not change is copied byte for byte, without
    being parsed; so are blank lines. Returns (records changed, bytes removed).
    Raises InputError when the input no longer holds len(documents) records.
    """
    changed = removed = count = 0
    with ExitStack() as stack:
        handle = stack.enter_context(open_lines(name, compressed))
        lines: Iterable[bytes] = handle if cut is None else piece_lines(handle, cut)
        if compressed:
            out = cast(IO[bytes], stack.enter_context(
                gzip.GzipFile(fileobj=out, mode="wb", compresslevel=GZIP_LEVEL, mtime=0)))
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
