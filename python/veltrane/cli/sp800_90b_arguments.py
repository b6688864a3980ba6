"""Options the SP 800-90B programs share: the sample width and the seed."""
from __future__ import annotations

import argparse

from .numbers import whole_number


def bits_per_symbol(text: str) -> int:
    value = whole_number(1)(text)
    if value > 8:
        raise argparse.ArgumentTypeError(f"must be from 1 to 8 (one sample per byte): {text!r}")
    return value


def seed_hex(text: str) -> str:
    """64 hex digits: the 32 bytes that make the shuffles reproducible."""
    cleaned = text.strip()
    try:
        raw = bytes.fromhex(cleaned)
    except ValueError:
        raw = b""
    if len(raw) != 32:
        raise argparse.ArgumentTypeError(f"a seed is 64 hex digits (32 bytes): {text!r}")
    return cleaned


def add_width_argument(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--bits", type=bits_per_symbol, default=None, metavar="W",
                        help="bits per sample, 1 to 8 (default: what the largest sample needs)")


def add_seed_argument(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--seed", type=seed_hex, default=None, metavar="HEX",
                        help="64 hex digits that fix the random shuffles, as printed by an earlier run "
                        "(default: drawn from the operating system and printed)")


def add_output_arguments(parser: argparse.ArgumentParser, *, json_help: str, verbose_help: str) -> None:
    """--json or --verbose (-v), and --quiet (-q) for the progress bar."""
    form = parser.add_mutually_exclusive_group()
    form.add_argument("--json", action="store_true", help=json_help)
    form.add_argument("--verbose", "-v", action="store_true", help=verbose_help)
    parser.add_argument("--quiet", "-q", action="store_true", help="no progress bar")
