"""Seeds of the randomised assessments: 32 bytes, given or drawn from the operating system."""
from __future__ import annotations

import os
from typing import Union

#: A seed as given: 32 bytes (any buffer), or 64 hex digits.
Seed = Union[bytes, bytearray, memoryview, str]

SEED_BYTES = 32


def seed_bytes(seed: Seed | None) -> bytes:
    """The 32 bytes of `seed`; None draws them from the operating system."""
    if seed is None:
        return os.urandom(SEED_BYTES)
    if isinstance(seed, str):
        text = seed.strip()
        try:
            raw = bytes.fromhex(text)
        except ValueError:
            raise ValueError(f"seed must be 64 hex digits, not {seed!r}") from None
        if len(raw) != SEED_BYTES:
            raise ValueError(f"seed must be 64 hex digits, not {len(text)} characters: {seed!r}")
        return raw
    if isinstance(seed, (bytes, bytearray, memoryview)):
        raw = bytes(seed)
        if len(raw) != SEED_BYTES:
            raise ValueError(f"seed must be {SEED_BYTES} bytes, not {len(raw)}")
        return raw
    raise TypeError(f"seed must be 32 bytes, 64 hex digits or None, not {type(seed).__name__}")
