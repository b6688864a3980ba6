"""Standard output and the progress bar on standard error, which must not garble each other."""
from __future__ import annotations

import sys
from typing import IO, TextIO, Union

from tqdm import tqdm  # type: ignore[import-untyped,unused-ignore]

from .activity import OutputClosed


def progress_bar(total: int, count: int, quiet: bool) -> Union[tqdm, None]:
    """A bar on standard error, shown only on a terminal and only once the work takes a second."""
    if quiet or not sys.stderr.isatty():
        return None
    return tqdm(total=total, unit="B", unit_scale=True, unit_divisor=1024, delay=1.0, file=sys.stderr,
                leave=False, desc=f"{count} inputs", dynamic_ncols=True)


class Output:
    """Writes text to standard output (above the bar, if one is shown), flushing so a pipe sees each piece."""

    def __init__(self, stream: TextIO, bar: Union[tqdm, None] = None) -> None:
        self.stream = stream
        self.bar = bar

    def write(self, text: str) -> None:
        try:
            if self.bar is not None:
                self.bar.write(text, file=self.stream, end="")
            else:
                self.stream.write(text)
            self.stream.flush()
        except BrokenPipeError:
            raise OutputClosed from None

    def write_bytes(self, data: bytes) -> None:
        """Raw bytes, for output that is not text in any one encoding (ent's Latin-1 counts table)."""
        try:
            self.stream.flush()
            self.stream.buffer.write(data)
            self.stream.buffer.flush()
        except BrokenPipeError:
            raise OutputClosed from None
