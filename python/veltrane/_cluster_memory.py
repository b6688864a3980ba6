"""Memory a cluster step frees goes back to the system when the step ends.

glibc keeps the memory freed by large short-lived buffers (a shard's text,
its records) for the process to reuse; a Dask worker then looks full by its
resident size, and its nanny pauses or restarts it, although nothing is in
use. pyarrow's own allocator keeps what reading a Parquet input freed in
the same way. A worker paused for memory that nothing holds would wait
forever. `gives_back` trims the process's heap after a step (glibc's
malloc_trim; elsewhere nothing happens) and asks pyarrow's pool, when
pyarrow was loaded, to let its unused memory go.
"""
from __future__ import annotations

import ctypes
import ctypes.util
import functools
import sys
from collections.abc import Callable
from typing import Any, TypeVar, Union

_Step = TypeVar("_Step", bound=Callable[..., Any])
_trim: Union[Callable[[int], int], None, bool] = None


def give_back() -> None:
    global _trim
    if _trim is None:
        try:
            _trim = ctypes.CDLL(ctypes.util.find_library("c") or "libc.so.6").malloc_trim
        except (OSError, AttributeError):
            _trim = False
    if callable(_trim):
        _trim(0)
    pyarrow = sys.modules.get("pyarrow")
    if pyarrow is not None:
        pyarrow.default_memory_pool().release_unused()


def gives_back(step: _Step) -> _Step:
    """`step`, trimming the heap once it has returned or raised."""
    @functools.wraps(step)
    def run(*args: Any, **kwargs: Any) -> Any:
        try:
            return step(*args, **kwargs)
        finally:
            give_back()

    return run  # type: ignore[return-value]
