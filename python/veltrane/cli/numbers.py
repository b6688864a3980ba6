"""Numbers on the command line (counts, sizes, thresholds), with the errors argparse shows."""
from __future__ import annotations

import argparse
from typing import Callable


def whole_number(minimum: int) -> Callable[[str], int]:
    def convert(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
        if value < minimum:
            raise argparse.ArgumentTypeError(f"must be {minimum} or more: {text!r}")
        return value

    return convert


def parse_size(text: str) -> int:
    """A positive byte count: a number with an optional K, M or G suffix (powers of 1024)."""
    units = {"": 1, "k": 1 << 10, "m": 1 << 20, "g": 1 << 30}
    cleaned = text.strip().lower().removesuffix("ib").removesuffix("b")
    suffix = cleaned[-1:] if cleaned[-1:] in ("k", "m", "g") else ""
    number = cleaned[: len(cleaned) - len(suffix)]
    try:
        value = int(number) * units[suffix]
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a size: {text!r} (use for example 4096, 64K or 1M)") from None
    if value <= 0:
        raise argparse.ArgumentTypeError(f"must be positive: {text!r}")
    return value


def format_size(size: int) -> str:
    """The shortest exact form parse_size reads back: 16M, 4K, 1000."""
    for suffix, unit in (("G", 1 << 30), ("M", 1 << 20), ("K", 1 << 10)):
        if size % unit == 0:
            return f"{size // unit}{suffix}"
    return str(size)


def non_negative(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not value >= 0.0:
        raise argparse.ArgumentTypeError(f"must be 0 or more: {text!r}")
    return value


def fraction(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not 0.0 <= value <= 1.0:
        raise argparse.ArgumentTypeError(f"must lie between 0 and 1: {text!r}")
    return value
