"""Where a deduplicated corpus goes: each input's place under the output, and never over an input.

An input named `src/a.txt` is written to OUT/src/a.txt, `/usr/share/doc/x` to
OUT/usr/share/doc/x and `s3://bucket/key` to OUT/bucket/key: the name with any
root "/" or URL scheme taken off. A relative path that climbs above the
current directory (`../x`) is placed by its absolute path. OUT is a local
directory or an fsspec URL.
"""
from __future__ import annotations

import os
import posixpath
from collections.abc import Iterator, Sequence
from contextlib import contextmanager
from typing import IO, Union

from ._corpus_sources import InputError, Source
from ._locations import is_url, url_filesystem

#: Appended to a local output while it is written; renamed to its name once whole.
PARTIAL_SUFFIX = ".veltrane-partial"
#: Appended, with the piece's first byte, to the place of an input written in pieces, for each piece's part.
PART_SUFFIX = ".veltrane-part-"


def mirrored_path(name: str) -> str:
    """Where the input named `name` goes under the output, as a relative POSIX path."""
    if is_url(name):
        path = name.split("://", 1)[1]
    else:
        path = name
        normal = posixpath.normpath(path)
        if normal == ".." or normal.startswith("../"):
            path = os.path.abspath(path)
    relative = posixpath.normpath("/" + path).lstrip("/")
    if relative in ("", "."):
        raise InputError(name, "names no file to write under the output")
    return relative


def part_path(relative: str, start: int) -> str:
    """Where the part written from the piece of an input starting at byte `start` waits, beside the input's place."""
    return f"{relative}{PART_SUFFIX}{start}"


def _local(location: str) -> Union[str, None]:
    """The local path of `location` (a path, or a file:// URL), or None for a remote URL."""
    if not is_url(location):
        return location
    if location.startswith(("file://", "local://")):
        return str(url_filesystem(location)[1])
    return None


def _canonical_url(url: str) -> str:
    fs, path = url_filesystem(url)
    return str(fs.unstrip_protocol(str(path).rstrip("/")))


def _inside(path: str, directory: str) -> bool:
    return path == directory or path.startswith(directory.rstrip("/") + "/")


def refuse_overwriting(out: str, roots: Sequence[str], sources: Sequence[Source]) -> None:
    """Raises ValueError when writing to `out` could write over an input.

    That is when `out` is an input or lies inside an input directory or URL
    prefix, or when one of the files to write already exists as an input
    (the same file, through any name or link).
    """
    local_out = _local(out)
    if local_out is not None:
        real_out = os.path.realpath(local_out)
        if os.path.exists(real_out) and not os.path.isdir(real_out):
            raise ValueError(f"{out}: the output must be a directory, and this is a file")
        for root in roots:
            local_root = _local(root)
            if local_root is not None and _inside(real_out, os.path.realpath(local_root)):
                raise ValueError(f"{out}: the output would be inside the input {root}; write it elsewhere")
        if os.path.isdir(real_out):
            identities = {source.identity for source in sources if source.identity is not None}
            for source in sources:
                try:
                    info = os.stat(os.path.join(real_out, mirrored_path(source.name)))
                except (OSError, InputError):
                    continue
                if (info.st_dev, info.st_ino) in identities:
                    raise ValueError(f"{out}: writing {source.name} there would write over an input")
        return
    target = _canonical_url(out)
    for root in roots:
        if is_url(root) and _inside(target, _canonical_url(root)):
            raise ValueError(f"{out}: the output would be inside the input {root}; write it elsewhere")
    inputs = {source.name for source in sources if is_url(source.name)}
    for source in sources:
        try:
            written = output_location(target, mirrored_path(source.name))
        except InputError:
            continue
        if written in inputs:
            raise ValueError(f"{out}: writing {source.name} there would write over the input {written}")


def output_location(out: str, relative: str) -> str:
    """The path or URL of `relative` under the output `out`."""
    return f"{out.rstrip('/')}/{relative}" if is_url(out) else os.path.join(out, relative)


class Outputs:
    """Opens the files of the output, making their directories (each once)."""

    def __init__(self, out: str) -> None:
        self.out = out
        self._made: set[str] = set()

    def make_root(self) -> None:
        """Makes the output directory itself, so that it exists even when nothing is written into it."""
        if is_url(self.out):
            fs, path = url_filesystem(self.out)
            fs.makedirs(path, exist_ok=True)
        else:
            os.makedirs(self.out, exist_ok=True)

    @contextmanager
    def create(self, relative: str) -> Iterator[IO[bytes]]:
        """A new file at `relative` under the output, for writing; it appears only if the block ends without error."""
        location = output_location(self.out, relative)
        if is_url(location):
            fs, path = url_filesystem(location)
            parent = posixpath.dirname(str(path))
            if parent not in self._made:
                fs.makedirs(parent, exist_ok=True)
                self._made.add(parent)
            try:
                with fs.open(path, "wb") as handle:
                    yield handle
            except BaseException:
                _remove_quietly(fs, path)
                raise
            return
        parent = os.path.dirname(location)
        if parent not in self._made:
            os.makedirs(parent, exist_ok=True)
            self._made.add(parent)
        partial = location + PARTIAL_SUFFIX
        try:
            with open(partial, "wb") as handle:
                yield handle
            os.replace(partial, location)
        except BaseException:
            try:
                os.unlink(partial)
            except OSError:
                pass
            raise


def _remove_quietly(fs: object, path: str) -> None:
    try:
        fs.rm(path)  # type: ignore[attr-defined]
    except Exception:  # the write's own error is the one to report
        pass
