"""What to scan: files, directories walked recursively, and standard input."""
from __future__ import annotations

import os
import stat
from collections.abc import Callable, Sequence
from dataclasses import dataclass, field

from .activity import STDIN

Report = Callable[[str, str], None]


def describe_error(error: BaseException) -> str:
    """The one-line reason an input failed, as it follows "veltrane: INPUT: "."""
    if isinstance(error, OSError) and error.strerror:
        return error.strerror
    if isinstance(error, UnicodeDecodeError):
        return f"not valid UTF-8 (byte {error.start}); scan it without --text"
    if isinstance(error, MemoryError):
        return "out of memory"
    return str(error) or type(error).__name__


@dataclass
class Inputs:
    """The inputs in scanning order, the bytes they hold (as far as known) and how many were refused."""

    paths: list[str] = field(default_factory=list)
    total_bytes: int = 0
    failures: int = 0


def expand(arguments: Sequence[str], report: Report) -> Inputs:
    """The files to scan, in order: directories are walked recursively, following symbolic links.

    A directory that leads back to one of its own ancestors (a loop through a
    link) is reported and not entered again. Inside directories only regular
    files are scanned: a FIFO or device found there could block or never end.
    A FIFO or device named on the command line is read as a stream.
    """
    found = Inputs()

    def failed(path: str, message: str) -> None:
        report(path, message)
        found.failures += 1

    def walk(directory: str, ancestors: dict[tuple[int, int], str]) -> None:
        try:
            with os.scandir(directory) as listing:
                entries = sorted(listing, key=lambda entry: entry.name)
        except OSError as error:
            failed(directory, describe_error(error))
            return
        for entry in entries:
            try:
                info = os.stat(entry.path)
            except OSError as error:
                failed(entry.path, describe_error(error))
                continue
            if stat.S_ISDIR(info.st_mode):
                key = (info.st_dev, info.st_ino)
                if key in ancestors:
                    failed(entry.path, f"directory loop (leads back to {ancestors[key]}); not entered")
                    continue
                walk(entry.path, {**ancestors, key: entry.path})
            elif stat.S_ISREG(info.st_mode):
                found.paths.append(entry.path)
                found.total_bytes += info.st_size

    for argument in arguments:
        if argument == STDIN:
            found.paths.append(STDIN)
            continue
        try:
            info = os.stat(argument)
        except OSError as error:
            failed(argument, describe_error(error))
            continue
        if stat.S_ISDIR(info.st_mode):
            walk(argument, {(info.st_dev, info.st_ino): argument})
        else:
            found.paths.append(argument)
            found.total_bytes += info.st_size if stat.S_ISREG(info.st_mode) else 0
    return found
