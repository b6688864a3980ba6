"""Type aliases shared by the package; they exist for type checkers only."""
from __future__ import annotations

from collections.abc import Sequence
from typing import TYPE_CHECKING, Union

if TYPE_CHECKING:
    from typing_extensions import Buffer, TypeAlias

    #: Data the measures accept: a str (measured over its UTF-8 bytes), bytes,
    #: bytearray, an unsigned-byte buffer (memoryview, array('B'), numpy uint8,
    #: mmap) or a sequence of integers 0..255.
    Data: TypeAlias = Union[str, Buffer, Sequence[int]]

    #: What the package's own engine reads: any buffer, as its raw bytes, or a str
    #: (its UTF-8 bytes).
    Bytes: TypeAlias = Union[str, Buffer]
