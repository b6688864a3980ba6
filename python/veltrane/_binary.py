"""What counts as binary: the rule every command and the corpus share."""
from __future__ import annotations

from typing import Union

#: Inputs with a NUL byte among their first bytes are binary (as grep and git decide).
BINARY_SNIFF = 8000


def is_binary(head: Union[memoryview, bytes, bytearray]) -> bool:
    """A NUL byte among the first bytes (byte values: the same test for bytes and a view of a map)."""
    return 0 in head[:BINARY_SNIFF]
