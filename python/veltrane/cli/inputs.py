"""What to scan: files, directories walked recursively, URLs (a prefix walked like a directory), standard input."""
from __future__ import annotations

from collections.abc import Sequence

from .._locations import MissingExtra
from .._walk import Listing, Report, list_files
from .activity import STDIN
from .exits import UsageError

#: The inputs in scanning order, the bytes they hold (as far as known) and how many were refused.
Inputs = Listing

__all__ = ["Inputs", "Report", "expand"]


def expand(arguments: Sequence[str], report: Report) -> Inputs:
    """The files to scan, in order (see `list_files`); standard input's name is read as a stream.

    A URL without fsspec installed is a usage error.
    """
    try:
        return list_files(arguments, report, streams={STDIN})
    except MissingExtra as error:
        raise UsageError(str(error)) from None
