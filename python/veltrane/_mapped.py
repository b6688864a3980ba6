"""Files as bytes without a Python object per byte: memory-mapped when they can be, read whole when not."""
from __future__ import annotations

import mmap
import os
import stat
from collections.abc import Iterator
from contextlib import contextmanager
from typing import IO, Union

__all__ = ["mapped", "mapped_file"]


@contextmanager
def mapped_file(handle: IO[bytes]) -> Iterator[Union[memoryview, bytes]]:
    """The whole content of an open file, memory-mapped when it is a regular, non-empty file.

    A map is read by the native module straight from its buffer, so a file of
    any size costs no Python object per byte. Pipes, terminals and empty files
    (which cannot be mapped) are read whole instead.
    """
    fd = handle.fileno()
    info = os.fstat(fd)
    at_start = True
    try:
        at_start = os.lseek(fd, 0, os.SEEK_CUR) == 0
    except OSError:
        pass  # not seekable: a pipe, read below
    if not (stat.S_ISREG(info.st_mode) and info.st_size > 0 and at_start):
        yield handle.read()
        return
    mapping = mmap.mmap(fd, 0, access=mmap.ACCESS_READ)
    try:
        if hasattr(mapping, "madvise") and hasattr(mmap, "MADV_SEQUENTIAL"):
            mapping.madvise(mmap.MADV_SEQUENTIAL)
        with memoryview(mapping) as view:
            yield view
    finally:
        try:
            mapping.close()
        except BufferError:
            # A view of it is still referenced from elsewhere, for instance from a frame a sampling
            # profiler (a Dask worker's) holds for a moment: the map is unmapped when that view goes.
            pass


@contextmanager
def mapped(path: Union[str, os.PathLike[str]]) -> Iterator[Union[memoryview, bytes]]:
    """The content of the file at `path`; see `mapped_file`."""
    with open(path, "rb") as handle, mapped_file(handle) as content:
        yield content
