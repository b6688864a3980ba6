"""`veltrane scan --scheduler`: the command's job on a Dask cluster, reported as a local scan reports it."""
from __future__ import annotations

import dataclasses
from collections.abc import Callable, Iterator, Sequence
from contextlib import ExitStack
from dataclasses import dataclass
from typing import Any, Union

from .._binary import is_binary
from .._cluster import ClusterScan, Run, connect, worker_name
from .._locations import MissingExtra, open_input
from .._measures import Measures
from .activity import STDIN, Activity
from .exits import UsageError
from .runner import (THREADS_VARIABLE, Found, Outcome, ScannedInput, ScanOptions, scan_one,
                     scanned_input, search_content, search_skipped)


@dataclass(frozen=True)
class CommandJob:
    """What `veltrane scan` prints of an input, computed on the workers."""

    options: ScanOptions

    @property
    def bits(self) -> bool:
        return self.options.bits

    def whole(self, name: str) -> Outcome:
        return scan_one(name, self.options)

    def wants_search(self, size: int) -> bool:
        # Text is decoded even when it is not searched: invalid UTF-8 fails as in a local scan.
        return self.options.text or bool(self.options.fragments and search_skipped(size, self.options) is None)

    def search(self, name: str) -> Found:
        with open_input(name) as content:
            return search_content(content, is_binary(content), self.options)

    def combine(self, name: str, size: int, measures: Measures, binary: bool, run: Union[Run, None],
                searched: Union[Found, None]) -> ScannedInput:
        found = searched or Found(None, (), "bytes", search_skipped(size, self.options))
        return scanned_input(name, measures, found, binary, run)


class ClusterScanner:
    """The cluster's counterpart of `runner.Scanner`: (path, outcome) in input order; it connects and cleans up.

    Standard input is read here, by this process, the only one that has it.
    """

    def __init__(self, address: str, paths: Sequence[str], sizes: Sequence[int], options: ScanOptions,
                 chunk_size: int, activity: Activity, progress: Union[Callable[[int], None], None]) -> None:
        self.address, self.paths, self.sizes, self.options = address, list(paths), list(sizes), options
        self.chunk_size, self.activity, self.progress = chunk_size, activity, progress
        self._stack = ExitStack()
        self._scan: Any = None

    def __enter__(self) -> ClusterScanner:
        try:
            client, closing = connect(self.address, threads_variable=THREADS_VARIABLE)
        except MissingExtra as error:
            raise UsageError(str(error)) from None
        except (OSError, ValueError) as error:
            raise UsageError(str(error.strerror if isinstance(error, OSError) else error)) from None
        self._stack.enter_context(closing)
        self._scan = self._stack.enter_context(ClusterScan(
            client, [worker_name(p) for p in self.paths], self.sizes, CommandJob(self.options),
            chunk_size=self.chunk_size, progress=self.progress,
            here=(lambda name: name == STDIN, lambda name: scan_one(name, self.options))))
        return self

    def __exit__(self, *exc_info: object) -> None:
        self._stack.close()

    def __iter__(self) -> Iterator[tuple[str, Outcome]]:
        results = iter(self._scan)
        for path in self.paths:
            self.activity.start("scanning", path)
            _, outcome = next(results)
            if isinstance(outcome, ScannedInput):
                outcome = dataclasses.replace(outcome, path=path)
            yield path, outcome
