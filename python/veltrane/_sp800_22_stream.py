"""SP 800-22 on a file read a piece at a time: memory holds a few sequences whatever the file's size.

A regular file is measured first (its size, or for ASCII text a pass that counts its digits), so that the
number of sequences is known, and checked, before any test runs; a pipe is read until it ends.
"""
from __future__ import annotations

import os
import stat
from collections.abc import Iterator
from typing import IO, Any

from . import _engine
from ._sp800_22 import Run, Sp800_22Sequence

READ_BYTES = 8 << 20


def file_bits(handle: IO[bytes], ascii: bool) -> int | None:
    """The bits a regular file holds from its current position; None for a pipe or terminal."""
    fd = handle.fileno()
    info = os.fstat(fd)
    if not stat.S_ISREG(info.st_mode):
        return None
    start = handle.tell()
    if not ascii:
        return 8 * (info.st_size - start)
    bits = 0
    while block := handle.read(READ_BYTES):
        bits += _engine.sp800_22_bits(block, True)
    handle.seek(start)
    return bits


def stream(run: Run, handle: IO[bytes], count: int | None, progress: Any = None) -> Iterator[Sp800_22Sequence]:
    """The figures of `count` sequences read from `handle` (all it holds for None), in order.

    Raises ValueError when the file ends before `count` sequences.
    """
    a = run.arguments
    if progress is not None and count is not None:
        progress[1] = count
    data, position, done, ended = b"", 0, 0, False
    while count is None or done < count:
        # Bits left from the position on: whole sequences are tested, the rest waits for more.
        view = memoryview(data)
        left = _engine.sp800_22_bits(view[position:], True) if a.ascii else 8 * len(data) - position
        take = min(left // a.length, run.chunk_sequences, (count - done) if count is not None else left)
        if take == 0:
            if ended:
                break
            block = handle.read(READ_BYTES)
            ended = not block
            start = position if a.ascii else position // 8
            data, position = bytes(view[start:]) + block, 0 if a.ascii else position % 8
            continue
        found, position = run.chunk(data, position, take, done, progress)
        del view
        yield from found
        done += len(found)
    if count is not None and done < count:
        raise ValueError(f"sequences: the data holds {done} sequences of {a.length} bits, not {count}")
