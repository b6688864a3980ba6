"""Numbers as tables show them."""
from __future__ import annotations

__all__ = ["format_measure"]


def format_measure(value: float, digits: int = 4) -> str:
    """A measure as fixed-point text for a table, e.g. "7.9998".

    Data of one repeated byte value measures -0.0, which equals 0.0; a table
    reads better without the sign, so it shows "0.0000". Use the value itself
    (or `repr`) where every digit matters.
    """
    return f"{value + 0.0:.{digits}f}"
