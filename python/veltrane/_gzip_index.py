"""Reading a gzip file from the middle: a checkpoint index and a reader that resumes at one.

A gzip file can only be inflated from its start, since every deflate block may copy from the
32 KiB of text before it. One pass over the file (`index_gzip`) records *checkpoints* at
block boundaries about every `spacing` uncompressed bytes: where the next block starts in the
compressed file (a byte offset and the bits of the byte before it that belong to it) and the
32 KiB of text before it. `open_at` then reads the text from any checkpoint on, so that
pieces of one large ``.jsonl.gz`` can be read by different workers, each touching only its
own part of the file.

The index is made only for files that Python's gzip module reads without error: several
members one after another and zero bytes after a member are fine; anything else (a bad CRC,
truncation, trailing bytes) gives a short reason instead, and the caller reads the file whole.
"""
from __future__ import annotations

import gzip
import io
from dataclasses import dataclass
from typing import IO, TYPE_CHECKING, Union

from . import _engine

if TYPE_CHECKING:
    from _typeshed import WriteableBuffer

# Compressed bytes read per call: large enough that the engine's per-call cost vanishes,
# small enough that the file is never held in memory.
CHUNK_SIZE = 1 << 20
# The reader's buffer: the text one engine call inflates for the line iteration to serve.
READ_BUFFER_SIZE = 1 << 17


@dataclass(frozen=True)
class Checkpoint:
    """A place to start inflating: `position` in the text, `offset` of the first compressed
    byte to feed (counted from where `index_gzip` started reading), the `bits` (0 to 7) of
    the byte before it that are still unread with their `value`, and `window`, the
    min(32768, position) bytes of text before `position`."""

    position: int
    offset: int
    bits: int
    value: int
    window: bytes


@dataclass(frozen=True)
class GzipIndex:
    """The uncompressed `size` of a gzip file and its `checkpoints`, in increasing position,
    none at 0 or at `size`."""

    size: int
    checkpoints: tuple[Checkpoint, ...]


def index_gzip(handle: IO[bytes], spacing: int) -> Union[GzipIndex, str]:
    """Reads `handle` (compressed bytes, from its current position to its end) once, in chunks
    of about 1 MiB; the index, or the reason it is not indexable.

    There is a checkpoint at the first block boundary at or past each multiple of `spacing`
    (a positive int) uncompressed bytes; one boundary may serve several multiples when a
    block is longer than `spacing`. Reading stops early once the file is known not to be
    indexable.
    """
    if isinstance(spacing, bool) or not isinstance(spacing, int):
        raise TypeError(f"spacing must be an int, not {type(spacing).__name__}")
    if spacing <= 0:
        raise ValueError(f"spacing must be positive, not {spacing}")
    survey = _engine.GzipSurvey(spacing)
    while chunk := handle.read(CHUNK_SIZE):
        if not survey.feed(chunk):
            break
    found = survey.finish()
    if isinstance(found, str):
        return found
    size, checkpoints = found
    return GzipIndex(size, tuple(Checkpoint(*c) for c in checkpoints))


class _ResumedText(io.RawIOBase):
    """The text of a gzip file from a checkpoint on, as a raw binary stream."""

    def __init__(self, handle: IO[bytes], checkpoint: Checkpoint) -> None:
        super().__init__()
        self._handle = handle
        self._reader = _engine.GzipReader(checkpoint.position, checkpoint.bits, checkpoint.value,
                                          checkpoint.window)

    def readable(self) -> bool:
        return True

    def readinto(self, buffer: WriteableBuffer, /) -> int:
        with memoryview(buffer) as view, view.cast("B") as out:
            try:
                return self._inflate_into(out)
            except ValueError as error:  # the engine's word for data the survey did not see
                raise gzip.BadGzipFile(str(error)) from None

    def _inflate_into(self, out: memoryview) -> int:
        reader = self._reader
        while len(out) and not reader.eof:
            data = b""
            if reader.needs_input:
                data = self._handle.read(CHUNK_SIZE)
                if not data:
                    reader.finish()
                    break
            written = reader.decompress_into(data, out)
            if written:
                return written
        return 0


def open_at(handle: IO[bytes], checkpoint: Checkpoint) -> IO[bytes]:
    """A buffered, line-iterable binary reader of the uncompressed text from
    checkpoint.position to the end; `handle` is seekable (it seeks to checkpoint.offset).
    A data error raises gzip.BadGzipFile with a reason.

    The reader reads `handle` from there on and leaves it open when closed. Text after the
    checkpoint's own member is checked against its members' CRCs; the resumed member's own
    CRC covers text before the checkpoint and cannot be.
    """
    if not isinstance(checkpoint, Checkpoint):
        raise TypeError(f"checkpoint must be a Checkpoint, not {type(checkpoint).__name__}")
    handle.seek(checkpoint.offset)
    return io.BufferedReader(_ResumedText(handle, checkpoint), READ_BUFFER_SIZE)
