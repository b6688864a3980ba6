"""Scanning inputs in order, in this process or in a pool of worker processes."""
from __future__ import annotations

import multiprocessing
import os
import signal
import sys
from collections.abc import Iterator, Sequence
from concurrent.futures import Future, ProcessPoolExecutor
from contextlib import ExitStack
from dataclasses import dataclass
from typing import Union

from .. import _engine
from .._binary import is_binary
from .._locations import describe_error, open_input
from .._mapped import mapped_file
from .._measures import Measures, measure
from .._repeats import Repeats
from .._scan import ScanResult, Unit, search_data
from .activity import STDIN, Activity
from .numbers import format_size
from .preview import hex_preview, preview

#: The native pool's own sizing variable: set for each worker process unless the user set it.
THREADS_VARIABLE = "RAYON_NUM_THREADS"


#: Binary inputs' repeats are shown in hex, and unless asked otherwise they must carry this many
#: bits per byte, which leaves out padding, tables of small integers and other low-complexity filler.
BINARY_MIN_ENTROPY = 1.0
#: Starts written per fragment in JSON; the count stays exact and says how many there are.
JSON_MAX_STARTS = 1000


@dataclass(frozen=True)
class ScanOptions:
    fragments: int
    times: int
    text: bool
    fragment_limit: int
    bits: bool = False
    min_length: int = 4
    max_length: Union[int, None] = None
    rank: str = "savings"
    min_entropy: Union[float, None] = None
    raw: bool = False
    overlap: bool = False
    max_starts: Union[int, None] = None


@dataclass(frozen=True)
class ScannedInput:
    """One input's result with what the renderers need besides it."""

    path: str
    result: ScanResult
    #: An escaped (or, for binary inputs, hex) preview of each repeat, in the order of `result.repeats`.
    previews: tuple[str, ...]
    #: A NUL byte among the first bytes.
    binary: bool
    #: The longest run of one byte value as (value, start, length), for binary inputs; None otherwise.
    longest_run: Union[tuple[int, int, int], None]
    #: Why the repeats search did not run although it was asked for; None when it ran or was not asked for.
    repeats_skipped: Union[str, None]


Outcome = Union[ScannedInput, str]  # a result, or the reason the input failed


def scan_one(path: str, options: ScanOptions) -> Outcome:
    """The scan of one input; a problem of the input itself is returned as its message, never raised."""
    try:
        opened = mapped_file(sys.stdin.buffer) if path == STDIN else open_input(path)
        with opened as content:
            return _scan_content(path, content, options)
    except (OSError, UnicodeDecodeError, MemoryError, ValueError) as error:
        return describe_error(error)


@dataclass(frozen=True)
class Found:
    """What the repeats search gives an input, for `ScannedInput`."""

    repeats: Union[Repeats, None]
    previews: tuple[str, ...]
    unit: Unit
    skipped: Union[str, None]


def search_skipped(size: int, options: ScanOptions) -> Union[str, None]:
    """Why the search does not run on an input of `size` bytes although asked for; None when it runs."""
    if options.fragments and size > options.fragment_limit:
        return f"larger than --fragment-limit ({format_size(options.fragment_limit)})"
    return None


def search_content(content: Union[memoryview, bytes], binary: bool, options: ScanOptions) -> Found:
    skipped = search_skipped(len(content), options)
    min_entropy = options.min_entropy
    if min_entropy is None and binary and not options.raw:
        min_entropy = BINARY_MIN_ENTROPY
    found, searched, unit = search_data(
        content, fragments=0 if skipped else options.fragments, text=options.text, min_count=options.times,
        min_length=options.min_length,
        max_length=options.max_length, rank=options.rank, maximal=not options.raw,
        exclude_periodic=not options.raw, min_entropy=None if options.raw else min_entropy,
        non_overlap=not options.overlap, max_starts=options.max_starts)
    shown = hex_preview if binary and not options.text else preview
    previews = tuple(shown(searched, r.first, r.first + r.length) for r in found or ())
    return Found(found, previews, unit, skipped)


def scanned_input(path: str, measures: Measures, found: Found, binary: bool,
                  run: Union[tuple[int, int, int], None]) -> ScannedInput:
    return ScannedInput(path, ScanResult(measures=measures, repeats=found.repeats, unit=found.unit), found.previews,
                        binary, run, found.skipped)


def _scan_content(path: str, content: Union[memoryview, bytes], options: ScanOptions) -> ScannedInput:
    binary = is_binary(content)
    measures = measure(content, bits=options.bits)  # first: the engine's check of what `content` is
    found = search_content(content, binary, options)
    run = _engine.longest_run(content) if binary else None
    return scanned_input(path, measures, found, binary, run)


def _worker_init(threads: Union[int, None], pids: "multiprocessing.queues.SimpleQueue[int]") -> None:
    # Ctrl-C goes to the whole process group; the parent alone answers it.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    if threads is not None:
        # Before the first native call: that call sizes this process's worker pool.
        os.environ[THREADS_VARIABLE] = str(threads)
    pids.put(os.getpid())


def threads_per_worker(jobs: int) -> Union[int, None]:
    """Native threads for each of `jobs` processes so that all of them together use about every CPU once."""
    if THREADS_VARIABLE in os.environ:
        return None  # the user's choice stands
    return max(1, len(os.sched_getaffinity(0)) // jobs)


class Scanner:
    """Yields (path, outcome) for every input in input order; a context manager that always stops its workers."""

    def __init__(self, paths: Sequence[str], options: ScanOptions, jobs: int, activity: Activity) -> None:
        self.paths = list(paths)
        self.activity = activity
        self.options = options
        self.jobs = jobs
        self._stack = ExitStack()
        self._futures: dict[int, Future[Outcome]] = {}

    def __enter__(self) -> Scanner:
        files = [i for i, path in enumerate(self.paths) if path != STDIN]
        if self.jobs > 1 and len(files) > 1:
            # A fresh server process forks the workers: never a copy of this
            # process, whose native worker threads may already be running.
            context = multiprocessing.get_context("forkserver")
            pids = context.SimpleQueue()
            workers = min(self.jobs, len(files))
            executor = ProcessPoolExecutor(max_workers=workers, mp_context=context, initializer=_worker_init,
                                           initargs=(threads_per_worker(workers), pids))
            self._stack.push(lambda kind, *_: _stop(executor, pids, abruptly=kind is not None))
            self._futures = {i: executor.submit(scan_one, self.paths[i], self.options) for i in files}
        return self

    def __exit__(self, *exc_info: object) -> None:
        self._stack.close()

    def __iter__(self) -> Iterator[tuple[str, Outcome]]:
        for i, path in enumerate(self.paths):
            self.activity.start("scanning", path)
            future = self._futures.get(i)
            yield path, future.result() if future is not None else scan_one(path, self.options)


def _stop(executor: ProcessPoolExecutor, pids: "multiprocessing.queues.SimpleQueue[int]", abruptly: bool) -> None:
    """Lets idle workers leave; after an interruption or a failure, ends them at once.

    Workers ignore Ctrl-C and may be busy with a large file, so an early stop
    terminates them rather than waiting for their current input.
    """
    if not abruptly:
        executor.shutdown(wait=True)
        return
    executor.shutdown(wait=False, cancel_futures=True)
    while not pids.empty():
        try:
            os.kill(pids.get(), signal.SIGTERM)
        except ProcessLookupError:
            pass  # it has already finished
    executor.shutdown(wait=True)
