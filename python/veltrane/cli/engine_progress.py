"""A progress bar fed from the engine's progress words while a long call runs on this thread."""
from __future__ import annotations

import sys
import threading
from array import array
from typing import Callable, TypeVar, Union

from tqdm import tqdm  # type: ignore[import-untyped,unused-ignore]

T = TypeVar("T")
#: The engine's progress words, or None when no bar follows them.
Words = Union["array[int]", None]

# How often the bar looks at the engine's progress words.
POLL_SECONDS = 0.1


def with_progress_bar(call: Callable[[Words], T], *, unit: str, desc: str, quiet: bool) -> T:
    """`call(words)` on this thread (so that Ctrl-C reaches it), with a bar on standard error meanwhile.

    `words` is the engine's pair of 64-bit words (done, total) the call updates; without a terminal,
    or when quiet, the call gets None and no bar is drawn. The bar appears after a second of work.
    """
    if quiet or not sys.stderr.isatty():
        return call(None)
    words = array("Q", [0, 0])
    done = threading.Event()

    def follow() -> None:
        with tqdm(total=None, unit=unit, delay=1.0, file=sys.stderr, leave=False, desc=desc,
                  dynamic_ncols=True) as bar:
            while not done.wait(POLL_SECONDS):
                finished, total = words[0], words[1]
                if total and bar.total != total:
                    bar.total = total
                bar.n = finished
                bar.refresh()

    watcher = threading.Thread(target=follow, daemon=True)
    watcher.start()
    try:
        return call(words)
    finally:
        done.set()
        watcher.join()
