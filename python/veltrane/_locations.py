"""Where inputs live: local paths, read through a memory map, or fsspec URLs (s3://, gs://, http(s)://, memory://...).

fsspec is an optional dependency (`pip install 'veltrane[cluster]'`); it is
imported only when a URL is met, so local scans never need it.
"""
from __future__ import annotations

import errno
import os
import re
from collections.abc import Iterator
from contextlib import contextmanager
from dataclasses import dataclass
from typing import IO, Any, Union

from ._mapped import mapped

__all__ = ["URL", "CLUSTER_EXTRA", "MissingExtra", "describe_error", "is_url", "open_input", "read_range", "url_filesystem", "url_size", "walk_url"]

#: What to install for URLs and clusters; named in every message about its absence.
CLUSTER_EXTRA = "pip install 'veltrane[cluster]'"

_SCHEME = re.compile(r"[A-Za-z][A-Za-z0-9+.-]*://")


class MissingExtra(ImportError):
    """A URL or a cluster was asked for without the optional dependencies installed."""


@dataclass(frozen=True)
class URL:
    """An input named by an fsspec URL, for `veltrane.scan` (whose plain str is data, not a name)."""

    url: str

    def __str__(self) -> str:
        return self.url


def describe_error(error: BaseException) -> str:
    """The one-line reason an input failed, as it follows "veltrane: INPUT: "."""
    if isinstance(error, OSError) and error.strerror:
        return error.strerror
    if isinstance(error, OSError) and type(error) in _ERRNO_OF:
        # fsspec's backends raise these with only the path as their argument.
        return os.strerror(_ERRNO_OF[type(error)])
    if isinstance(error, UnicodeDecodeError):
        return f"not valid UTF-8 (byte {error.start}); scan it without --text"
    if isinstance(error, MemoryError):
        return "out of memory"
    return str(error) or type(error).__name__


_ERRNO_OF = {FileNotFoundError: errno.ENOENT, PermissionError: errno.EACCES, IsADirectoryError: errno.EISDIR}


def is_url(name: str) -> bool:
    """Whether an input's name is a URL (scheme://...) rather than a local path."""
    return _SCHEME.match(name) is not None


def _filesystem(url: str) -> tuple[Any, str]:
    try:
        import fsspec.core  # type: ignore[import-untyped,unused-ignore]
    except ImportError:
        raise MissingExtra(f"{url}: reading URLs needs fsspec: {CLUSTER_EXTRA}") from None
    try:
        return fsspec.core.url_to_fs(url)  # type: ignore[no-any-return]
    except (ImportError, ValueError) as error:
        # An unknown scheme, or a backend whose own package (s3fs, gcsfs...) is missing.
        raise OSError(0, str(error) or "no fsspec backend for this URL") from None


def url_filesystem(url: str) -> tuple[Any, str]:
    """The fsspec filesystem that serves `url`, and the path within it (to open, list or write)."""
    return _filesystem(url)


def walk_url(url: str) -> list[tuple[str, int]]:
    """(url, size) of the file at `url`, or of every file under it (a prefix is walked recursively), sorted."""
    fs, path = _filesystem(url)
    info = fs.info(path)
    if info.get("type") != "directory":
        return [(url, int(info.get("size") or 0))]
    found = fs.find(path, detail=True)
    return [(fs.unstrip_protocol(name), int(found[name].get("size") or 0))
            for name in sorted(found) if found[name].get("type") != "directory"]


def url_size(url: str) -> int:
    fs, path = _filesystem(url)
    return int(fs.size(path) or 0)


@contextmanager
def open_input(name: str) -> Iterator[Union[memoryview, bytes]]:
    """The whole content of an input: a local file memory-mapped, a URL read whole."""
    if not is_url(name):
        with mapped(name) as content:
            yield content
        return
    fs, path = _filesystem(name)
    yield fs.cat_file(path)


@contextmanager
def open_stream(name: str) -> Iterator[IO[bytes]]:
    """The input at `name` (a path or URL) as a binary file to read from, seekable."""
    if not is_url(name):
        with open(name, "rb") as handle:
            yield handle
        return
    fs, path = _filesystem(name)
    with fs.open(path, "rb") as handle:
        yield handle


@contextmanager
def read_range(name: str, start: int, end: int) -> Iterator[Union[memoryview, bytes]]:
    """Bytes [start, end) of an input: a view into the map of a local file, a ranged read of a URL.

    Raises OSError when the input holds fewer bytes than that: it changed since it was sized.
    """
    if is_url(name):
        fs, path = _filesystem(name)
        content = fs.cat_file(path, start=start, end=end)
        _check_length(name, content, start, end)
        yield content
        return
    with mapped(name) as whole, memoryview(whole)[start:end] as piece:
        _check_length(name, piece, start, end)
        yield piece


def _check_length(name: str, content: Union[memoryview, bytes], start: int, end: int) -> None:
    if len(content) != end - start:
        raise OSError(0, f"changed while being scanned (bytes {start}..{end} not all there)", os.fspath(name))
