"""One contiguous buffer of documents, filled in place: the corpus engine's input."""
from __future__ import annotations

import array
import os
from typing import IO, Union

Bytes = Union[bytes, bytearray, memoryview]

#: Bytes asked of a stream at a time when its size is not known.
STREAM_CHUNK = 1 << 20


class DocumentBuffer:
    """Documents written one after the other into one bytearray, and where each ends.

    The bytearray is allocated once for what is known in advance (`capacity`:
    the files' sizes) and files are read straight into it; what was not known
    (records' text) is appended, letting the array grow. A source that fails
    half way is taken back out with `rollback`.
    """

    def __init__(self, capacity: int = 0) -> None:
        self.data = bytearray(capacity)
        self.used = 0
        self.offsets = array.array("Q", [0])
        # A view of the whole array, kept between files (making one per small file costs more than reading
        # it), and let go before the array is resized, which no view may outlive.
        self._view: Union[memoryview, None] = None

    def _grow_to(self, end: int) -> None:
        if end > len(self.data):
            self._let_go()
            self.data += bytes(end - len(self.data))

    def _let_go(self) -> None:
        if self._view is not None:
            self._view.release()
            self._view = None

    @property
    def documents(self) -> int:
        return len(self.offsets) - 1

    def append(self, chunk: Bytes) -> None:
        """Adds `chunk` to the document being written."""
        end = self.used + len(chunk)
        if end > len(self.data):
            self._let_go()
        # Within the array this copies in place; past its end the array grows to fit.
        self.data[self.used:end] = chunk
        self.used = end

    def read_file(self, fd: int, size: int) -> None:
        """Adds up to `size` bytes of the open file `fd` (fewer if it ends first) to the document being written."""
        self._grow_to(self.used + size)
        if self._view is None:
            self._view = memoryview(self.data)
        got = 0
        while got < size:
            count = os.readv(fd, [self._view[self.used + got:self.used + size]])
            if not count:
                break
            got += count
        self.used += got

    def read_stream(self, handle: IO[bytes]) -> None:
        """Adds everything left in `handle` to the document being written."""
        while chunk := handle.read(STREAM_CHUNK):
            self.append(chunk)

    def end_document(self) -> None:
        self.offsets.append(self.used)

    def end_documents(self, ends: array.array[int], shift: int) -> None:
        """Ends one document at each of `ends` + `shift` (offsets into what was appended, moved to the buffer's)."""
        self.offsets.extend(end + shift for end in ends)

    def mark(self) -> tuple[int, int]:
        return self.used, len(self.offsets)

    def rollback(self, mark: tuple[int, int]) -> None:
        """Forgets every document written since `mark` was taken."""
        self.used, documents = mark
        del self.offsets[documents:]

    def finish(self) -> tuple[bytearray, array.array[int]]:
        """The documents' bytes (trimmed to what was written) and their offsets."""
        self._let_go()
        del self.data[self.used:]
        return self.data, self.offsets
