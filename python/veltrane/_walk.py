"""Listing the files behind inputs: directories walked recursively in name order, URL prefixes likewise.

Every command that takes files and directories lists them here, so that a
directory is read in the same order by all of them.
"""
from __future__ import annotations

import os
import stat
from collections.abc import Callable, Collection, Sequence
from dataclasses import dataclass, field

from ._locations import describe_error, is_url, walk_url

#: Called with an input's name and the one-line reason it was refused.
Report = Callable[[str, str], None]


@dataclass
class Listing:
    """The files in reading order, the bytes they hold (as far as known) and how many were refused."""

    paths: list[str] = field(default_factory=list)
    #: The size of each file as listed (0 for streams).
    sizes: list[int] = field(default_factory=list)
    total_bytes: int = 0
    failures: int = 0

    def add(self, path: str, size: int) -> None:
        self.paths.append(path)
        self.sizes.append(size)
        self.total_bytes += size


def list_files(arguments: Sequence[str], report: Report, *, streams: Collection[str] = ()) -> Listing:
    """The files named by `arguments`, in order: directories are walked recursively, following symbolic links.

    A directory that leads back to one of its own ancestors (a loop through a
    link) is reported and not entered again. Inside directories only regular
    files are listed: a FIFO or device found there could block or never end.
    A FIFO or device named as an argument is listed as a stream (size 0), and
    so is any argument in `streams` (standard input's name, for instance). A
    URL names one object or, like a directory, every object under its prefix,
    in name order. A URL without fsspec installed raises `MissingExtra`.
    """
    found = Listing()

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
                found.add(entry.path, info.st_size)

    for argument in arguments:
        if argument in streams:
            found.add(argument, 0)
            continue
        if is_url(argument):
            try:
                listed = walk_url(argument)
            except OSError as error:
                failed(argument, describe_error(error))
                continue
            for url, size in listed:
                found.add(url, size)
            continue
        try:
            info = os.stat(argument)
        except OSError as error:
            failed(argument, describe_error(error))
            continue
        if stat.S_ISDIR(info.st_mode):
            walk(argument, {(info.st_dev, info.st_ino): argument})
        else:
            found.add(argument, info.st_size if stat.S_ISREG(info.st_mode) else 0)
    return found
