"""Short, escaped previews of fragments, printable on one line."""
from __future__ import annotations

from typing import Any

PREVIEW_WIDTH = 48


def preview(data: Any, start: int, end: int, width: int = PREVIEW_WIDTH) -> str:
    """The first `width` elements of data[start:end]: printable ASCII as is, other bytes as \\xNN."""
    piece = data[start : min(end, start + width)]
    if isinstance(piece, str):
        text = "".join(
            ch if ch.isprintable() and ch != "\\" else ch.encode("unicode_escape").decode("ascii") for ch in piece
        )
    else:
        text = "".join(
            chr(byte) if 0x20 <= byte < 0x7F and byte != 0x5C else ("\\\\" if byte == 0x5C else f"\\x{byte:02x}")
            for byte in bytes(piece)
        )
    return text + ("…" if end - start > width else "")


def hex_preview(data: Any, start: int, end: int, width: int = PREVIEW_WIDTH) -> str:
    """The first bytes of data[start:end] in hex, as many as fit in `width` characters ("7f 45 4c 46")."""
    shown = max(1, (width + 1) // 3)
    piece = bytes(data[start : min(end, start + shown)])
    return " ".join(f"{byte:02x}" for byte in piece) + (" …" if end - start > shown else "")
