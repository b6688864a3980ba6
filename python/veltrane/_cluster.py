"""Scanning many inputs on a Dask cluster: every input a task on a worker that reads it itself.

An input larger than the chunk size is measured in byte ranges on different
workers; the pieces' mergeable states (`MeasureState`) give figures
bit-identical to one pass, and their edge runs give the input's longest run of
one byte value. Its repeats search, which needs the whole input at once, is
one more task. What an input's result is and how its search runs is a `Job`'s
business: the command line's job gives what it prints, `scan_many`'s
(`_scan_many.py`) gives `ScanResult`s; this module only places the work and puts the answers back in
input order. dask.distributed is imported only here, and only when used.
"""
from __future__ import annotations

import functools
import importlib.util
import logging
import os
import re
import socket
from collections.abc import Callable, Iterator, Sequence
from contextlib import ExitStack
from dataclasses import dataclass, field
from typing import Any, Generic, Protocol, TypeVar, Union

from . import _engine
from ._locations import CLUSTER_EXTRA, MissingExtra, describe_error, read_range
from ._measures import Measures, MeasureState, measure_state

__all__ = ["DEFAULT_CHUNK_SIZE", "ClusterScan", "Job", "Piece", "connect", "longest_run_of", "pieces_of",
           "worker_name"]

#: Inputs larger than this are measured in pieces of this size on different workers.
DEFAULT_CHUNK_SIZE = 256 << 20
#: Bytes the first piece brings back for the binary test (a NUL among them, as grep decides).
HEAD_SIZE = 8000
#: How long connecting to a scheduler may take before it is called unreachable.
CONNECT_TIMEOUT = 5.0
#: Inputs submitted ahead of the one being reported: bounds the scheduler's load and the results held here.
WINDOW = 4096

R = TypeVar("R")
R_co = TypeVar("R_co", covariant=True)
Run = tuple[int, int, int]  # (value, start, length)
#: The failures of one input that its task returns as its reason instead of raising.
INPUT_ERRORS = (OSError, UnicodeDecodeError, MemoryError, ValueError)


class Job(Protocol[R_co]):
    """What is computed for each input, on the workers; picklable (it travels with every task)."""

    @property
    def bits(self) -> bool:
        """Whether the figures are those of the bits."""

    def whole(self, name: str) -> Union[R_co, str]:
        """The result of an input small enough for one task, or the reason it failed."""

    def wants_search(self, size: int) -> bool:
        """Whether a split input of `size` bytes needs the search task."""

    def search(self, name: str) -> Any:
        """The search's part of a split input's result, run on one worker with the whole input."""

    def combine(self, name: str, size: int, measures: Measures, binary: bool, run: Union[Run, None],
                searched: Any) -> R_co:
        """A split input's result from its merged pieces and its search (None when not run)."""


@dataclass(frozen=True)
class Piece:
    """What one byte range of an input gives: its state and what the longest run needs from it."""

    start: int
    length: int
    state: MeasureState
    head: bytes  # what the piece holds of the input's first HEAD_SIZE bytes
    first: int  # first and last byte values, and the runs of them at the two ends
    lead: int
    last: int
    trail: int
    longest: Run  # the piece's own first longest run, start counted from the input's start


def pieces_of(size: int, chunk_size: int) -> list[tuple[int, int]]:
    """The byte ranges [start, end) an input of `size` bytes is measured in."""
    return [(start, min(start + chunk_size, size)) for start in range(0, size, chunk_size)] or [(0, 0)]


def _lead(data: Union[memoryview, bytes], value: int) -> int:
    other = re.compile(b"[^\\x%02x]" % value).search(data)
    return other.start() if other else len(data)


def _trail(data: Union[memoryview, bytes], value: int) -> int:
    # The last other byte, looked for in windows growing from the end: the cost follows the run, not the piece.
    last_other = re.compile(b"(?s).*[^\\x%02x]" % value)
    window = 4096
    while True:
        start = max(0, len(data) - window)
        found = last_other.match(data, start)
        if found:
            return len(data) - found.end()
        if start == 0:
            return len(data)
        window *= 2


def _measure_piece(name: str, start: int, end: int) -> Union[Piece, str]:
    try:
        with read_range(name, start, end) as data:
            state = measure_state(data, start=start)
            if not len(data):
                return Piece(start, 0, state, b"", 0, 0, 0, 0, (0, start, 0))
            value, at, length = _engine.longest_run(data)
            return Piece(start, len(data), state, bytes(data[:max(0, HEAD_SIZE - start)]),
                         data[0], _lead(data, data[0]), data[-1], _trail(data, data[-1]), (value, start + at, length))
    except INPUT_ERRORS as error:
        return describe_error(error)


def longest_run_of(pieces: Sequence[Piece]) -> Union[Run, None]:
    """The first longest run of one byte value over consecutive pieces, as one pass over them would find it.

    Candidates are offered in the order of their starts and only a longer one
    replaces the best, so ties go to the earliest, as in the engine.
    """
    best: Union[Run, None] = None
    open_run: Union[Run, None] = None  # the run reaching the end of the pieces seen so far

    def offer(run: Run) -> None:
        nonlocal best
        if best is None or run[2] > best[2]:
            best = run

    for piece in pieces:
        if not piece.length:
            continue
        if open_run is not None and open_run[0] == piece.first:
            joined = (open_run[0], open_run[1], open_run[2] + piece.lead)
        else:
            if open_run is not None:
                offer(open_run)
            joined = (piece.first, piece.start, piece.lead)
        if piece.lead == piece.length:
            open_run = joined  # the whole piece is one run: it may go on in the next
            continue
        offer(joined)
        offer(piece.longest)
        open_run = (piece.last, piece.start + piece.length - piece.trail, piece.trail)
    if open_run is not None:
        offer(open_run)
    return best


def _guarded(call: Callable[..., Any], *args: Any) -> Any:
    try:
        return call(*args)
    except INPUT_ERRORS as error:
        return describe_error(error)


@dataclass
class _Pending:
    """One input on its way: its futures, how many of them are still out, and whether it is done."""

    name: str
    size: int
    futures: list[Any]
    left: int
    done: bool = False
    #: Each future's result (or the exception it ended with), by its key, as it arrives.
    results: dict[str, Any] = field(default_factory=dict)


class ClusterScan(Generic[R]):
    """Yields (name, result or reason) for every input, in input order; cancels what is left when it ends.

    `progress` is called with the bytes of every piece or input as its task
    completes, anywhere on the cluster, in the order they complete.
    """

    def __init__(self, client: Any, names: Sequence[str], sizes: Sequence[int], job: Job[R], *,
                 chunk_size: int = DEFAULT_CHUNK_SIZE, progress: Union[Callable[[int], None], None] = None,
                 here: Union[tuple[Callable[[str], bool], Callable[[str], Union[R, str]]], None] = None) -> None:
        if chunk_size <= 0:
            raise ValueError("chunk_size must be positive")
        self.client, self.names, self.sizes, self.job = client, list(names), list(sizes), job
        self.chunk_size, self.progress = chunk_size, progress
        #: Which inputs only this process can read (standard input), and how it scans them.
        self.here = here
        self._stack = ExitStack()
        self._pending: dict[int, _Pending] = {}
        self._bytes: dict[str, int] = {}  # by task key: what each task's completion adds to the progress

    def __enter__(self) -> ClusterScan[R]:
        self._stack.callback(self._cancel)
        return self

    def __exit__(self, *exc_info: object) -> None:
        self._stack.close()

    def _cancel(self) -> None:
        running = [f for item in self._pending.values() for f in item.futures if not f.done()]
        if not running:
            return  # a cancel with nothing in it still makes the scheduler answer a client about to close
        try:
            self.client.cancel(running)
        except Exception:  # noqa: BLE001 - a client already gone has nothing left to cancel
            pass

    def _submit(self, index: int) -> _Pending:
        name, size, job, submit = self.names[index], self.sizes[index], self.job, self.client.submit
        if self.here is not None and self.here[0](name):
            return _Pending(name, size, [], 0, done=True)
        # pure=False: the same input named twice is scanned twice.
        if size <= self.chunk_size:
            futures = [submit(_guarded, job.whole, name, pure=False)]
            self._bytes[futures[0].key] = size
        else:
            futures = []
            for start, end in pieces_of(size, self.chunk_size):
                futures.append(submit(_measure_piece, name, start, end, pure=False))
                self._bytes[futures[-1].key] = end - start
            if job.wants_search(size):
                # Ahead of the pieces: the longest task of the input should start first.
                futures.append(submit(_guarded, job.search, name, pure=False, priority=1))
        return _Pending(name, size, futures, len(futures))

    def _finish(self, pending: _Pending) -> Any:
        results = [pending.results[f.key] for f in pending.futures]
        error = next((r for r in results if isinstance(r, BaseException)), None)
        if error is not None:
            return _task_failure(error)
        if len(pending.futures) == 1 and pending.size <= self.chunk_size:
            return results[0]
        pieces = [r for r in results if isinstance(r, Piece)]
        wanted = len(pieces_of(pending.size, self.chunk_size))
        failed = next((r for r in results if isinstance(r, str)), None)
        if failed is not None:
            return failed
        assert len(pieces) == wanted
        searched = results[wanted] if len(results) > wanted else None
        state = functools.reduce(MeasureState.merge, (p.state for p in pieces))
        binary = 0 in b"".join(p.head for p in pieces)
        return self.job.combine(pending.name, pending.size, state.finish(bits=self.job.bits), binary,
                                longest_run_of(pieces) if binary else None, searched)

    def __iter__(self) -> Iterator[tuple[str, Union[R, str]]]:
        from distributed import as_completed

        pending, owner = self._pending, {}
        # Results come with their futures, fetched as they complete: one round trip each, in parallel.
        running = as_completed([], with_results=True, raise_errors=False)  # type: ignore[no-untyped-call,unused-ignore]
        submitted = 0

        def top_up(until: int) -> None:
            nonlocal submitted
            while submitted < min(until, len(self.names)):
                item = pending[submitted] = self._submit(submitted)
                for future in item.futures:
                    owner[future.key] = submitted
                    running.add(future)  # type: ignore[no-untyped-call,unused-ignore]
                submitted += 1

        top_up(WINDOW)
        for index in range(len(self.names)):
            while not pending[index].done:
                future, result = next(running)
                item = pending[owner.pop(future.key)]
                if future.status == "error" and isinstance(result, tuple):
                    result = result[1]  # (type, exception, traceback)
                item.results[future.key] = result
                done_bytes = self._bytes.pop(future.key, 0)
                # Counted once, when it first completes: its result may be lost with a worker later and
                # made again, which Dask does without telling as_completed.
                if self.progress is not None and done_bytes:
                    self.progress(done_bytes)
                item.left -= 1
                item.done = item.left == 0
            item = pending[index]
            if not item.futures:
                assert self.here is not None
                outcome = self.here[1](item.name)
            else:
                outcome = self._finish(item)
            del pending[index]  # its futures go: the workers forget the results
            top_up(index + 1 + WINDOW)
            yield item.name, outcome


def _task_failure(error: BaseException) -> str:
    from distributed import KilledWorker

    if isinstance(error, KilledWorker):
        return "its task was lost with its worker too many times; not scanned"
    return describe_error(error)


def _probe(address: str) -> None:
    """Fails at once when nothing listens at a TCP scheduler address.

    The client's own connect retries until its timeout whatever the answer;
    a refused connection is known in a moment.
    """
    match = re.fullmatch(r"(?:tcp://)?\[?([^\]/]*?)\]?:(\d+)/?", address)
    if match is None:
        return  # another protocol (tls://, ucx://...): the client finds out
    try:
        socket.create_connection((match.group(1), int(match.group(2))), timeout=CONNECT_TIMEOUT).close()
    except OSError as error:
        reason = error.strerror or str(error) or type(error).__name__
        raise OSError(0, f"cannot reach the scheduler at {address}: {reason}") from None


def connect(address: str, *, threads_variable: Union[str, None] = None) -> tuple[Any, ExitStack]:
    """A client of the scheduler at `address`, or of a new `LocalCluster` for "local:N"; and what closes it.

    A local cluster listens on the loopback interface only (its scheduler's HTTP server on a free port).
    Raises MissingExtra without dask.distributed, OSError when the scheduler
    cannot be reached within CONNECT_TIMEOUT seconds.
    """
    try:
        found = importlib.util.find_spec("distributed") is not None
    except (ImportError, ValueError):
        found = False
    if not found:
        raise MissingExtra(f"--scheduler needs dask.distributed: {CLUSTER_EXTRA}")
    if not address.startswith("local:"):
        _probe(address)  # before importing distributed, which takes seconds on a busy machine
    from distributed import Client, LocalCluster

    _drop_abandoned_waits()
    stack = ExitStack()
    quiet = _QuietWhileClosing()
    stack.callback(quiet.restore)
    if address.startswith("local:"):
        try:
            workers = int(address.removeprefix("local:"))
        except ValueError:
            workers = 0
        if workers < 1:
            raise ValueError(f"not a local cluster: {address!r} (use local:N, N worker processes)")
        env = {}
        if threads_variable and threads_variable not in os.environ:
            # Each worker's native pool gets its share of this machine's CPUs.
            env[threads_variable] = str(max(1, len(os.sched_getaffinity(0)) // workers))
        cluster = LocalCluster(  # type: ignore[no-untyped-call,unused-ignore]
            n_workers=workers, threads_per_worker=1, processes=True, host="127.0.0.1",
            dashboard_address="127.0.0.1:0", env=env, silence_logs=logging.ERROR)
        stack.callback(cluster.close)
        address = cluster.scheduler_address
    try:
        client = Client(address, timeout=CONNECT_TIMEOUT)  # type: ignore[no-untyped-call,unused-ignore]
    except Exception as error:  # noqa: BLE001 - whatever answered there, it is no scheduler we can use
        stack.close()
        raise OSError(0, f"cannot reach the scheduler at {address}: {(str(error).splitlines() or [type(error).__name__])[0]}") from None
    stack.callback(client.close)
    stack.callback(quiet.start)  # runs first: the closes above happen in silence
    return client, stack


def _abandoned_wait(record: logging.LogRecord) -> bool:
    """False for asyncio's report of a client's wait for results that failed after the run let go of it."""
    error = record.exc_info[1] if record.exc_info else None
    return type(error).__name__ != "AllExit" or type(error).__module__ != "distributed.client"


def _drop_abandoned_waits() -> None:
    """When a run stops early (Ctrl-C, a failed input), the futures it cancels make the client's pending
    waits fail inside its event loop, whenever asyncio gets to them; it reports each as "Task exception was
    never retrieved", with a traceback. None of them is news: they are dropped, and nothing else is."""
    quiet = logging.getLogger("asyncio")
    if _abandoned_wait not in quiet.filters:
        quiet.addFilter(_abandoned_wait)


class _QuietWhileClosing:
    """Mutes distributed's console logging while a client and its cluster shut down, then restores it.

    Closing a client, its scheduler and the workers happens in no fixed order; the
    side still open logs the other's closed connection at CRITICAL level, with a
    traceback. At the end of a scan none of that is news, and it must not reach a
    user's terminal or a script reading our standard error.
    """

    def __init__(self) -> None:
        self._saved: list[tuple[logging.Handler, int]] = []

    def start(self) -> None:
        for handler in logging.getLogger("distributed").handlers:
            if isinstance(handler, logging.StreamHandler):
                self._saved.append((handler, handler.level))
                handler.setLevel(logging.CRITICAL + 1)

    def restore(self) -> None:
        for handler, level in self._saved:
            handler.setLevel(level)
        self._saved.clear()


def worker_name(name: str) -> str:
    """What a worker reads: its working directory need not be ours."""
    from ._locations import is_url

    return name if is_url(name) or name == "-" else os.path.abspath(name)
