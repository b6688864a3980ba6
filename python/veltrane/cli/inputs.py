"""What to scan: files, directories walked recursively, URLs (a prefix walked like a directory), standard input."""
from __future__ import annotations

import os
import stat
from collections.abc import Callable, Sequence
from dataclasses import dataclass, field

from .._locations import MissingExtra, describe_error, is_url, walk_url
from .activity import STDIN
from .exits import UsageError

Report = Callable[[str, str], None]


@dataclass
class Inputs:
    """The inputs in scanning order, the bytes they hold (as far as known) and how many were refused."""

    paths: list[str] = field(default_factory=list)
    #: The size of each input as listed (0 for standard input and streams).
    sizes: list[int] = field(default_factory=list)
    total_bytes: int = 0
    failures: int = 0


def expand(arguments: Sequence[str], report: Report) -> Inputs:
    """The files to scan, in order: directories are walked recursively, following symbolic links.

    A directory that leads back to one of its own ancestors (a loop through a
    link) is reported and not entered again. Inside directories only regular
    files are scanned: a FIFO or device found there could block or never end.
    A FIFO or device named on the command line is read as a stream. A URL
    names one object or, like a directory, every object under its prefix, in
    name order.
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
                found.sizes.append(info.st_size)
                found.total_bytes += info.st_size

    for argument in arguments:
        if argument == STDIN:
            found.paths.append(STDIN)
            found.sizes.append(0)
            continue
        if is_url(argument):
            try:
                listed = walk_url(argument)
            except MissingExtra as error:
                raise UsageError(str(error)) from None
            except OSError as error:
                failed(argument, describe_error(error))
                continue
            for url, size in listed:
                found.paths.append(url)
                found.sizes.append(size)
                found.total_bytes += size
            continue
        try:
            info = os.stat(argument)
        except OSError as error:
            failed(argument, describe_error(error))
            continue
        if stat.S_ISDIR(info.st_mode):
            walk(argument, {(info.st_dev, info.st_ino): argument})
        else:
            size = info.st_size if stat.S_ISREG(info.st_mode) else 0
            found.paths.append(argument)
            found.sizes.append(size)
            found.total_bytes += size
    return found
