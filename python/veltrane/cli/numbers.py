"""Whole numbers on the command line, with the error argparse shows."""
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
