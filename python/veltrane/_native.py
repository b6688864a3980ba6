"""Calls into `_veltrane`, with the one conversion the native module leaves to its callers."""
from __future__ import annotations

import mmap
from collections.abc import Callable
from typing import TYPE_CHECKING, TypeVar

if TYPE_CHECKING:
    from ._types import Data

T = TypeVar("T")


def call(function: Callable[[Data], T], data: Data) -> T:
    """`function(data)`, reading an mmap through its buffer.

    The native module reads only exact memoryview, array and ndarray objects
    straight from their buffer; an mmap given as it is would be walked element by
    element. The view is released before returning so that the caller can close
    the map afterwards.
    """
    if isinstance(data, mmap.mmap):
        with memoryview(data) as view:
            return function(view)
    return function(data)
