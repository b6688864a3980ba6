"""`scan_many`: `veltrane.scan` of many files and URLs on a Dask cluster, in input order."""
from __future__ import annotations

import os
import pathlib
from collections.abc import Callable, Iterator, Sequence
from dataclasses import dataclass
from typing import Any, Union

from ._cluster import DEFAULT_CHUNK_SIZE, ClusterScan, Run, worker_name
from ._locations import CLUSTER_EXTRA, URL, MissingExtra, is_url, open_input
from ._measures import Measures
from ._scan import ScanResult, scan, search_data

__all__ = ["ScanFailure", "scan_many"]


@dataclass(frozen=True)
class ScanFailure:
    """An input `scan_many` could not scan, and why (the others go on)."""

    reason: str


@dataclass(frozen=True)
class _ScanJob:
    """`scan_many`'s job: each input's `ScanResult`, as `veltrane.scan` gives it."""

    fragments: int
    text: Union[bool, None]
    bits: bool
    options: tuple[tuple[str, Any], ...]

    def whole(self, name: str) -> ScanResult:
        where = URL(name) if is_url(name) else pathlib.Path(name)
        return scan(where, fragments=self.fragments, text=self.text, bits=self.bits, **dict(self.options))

    def wants_search(self, size: int) -> bool:
        return bool(self.fragments or self.text)

    def search(self, name: str) -> Any:
        with open_input(name) as content:
            found, searched, unit = search_data(content, fragments=self.fragments, text=self.text,
                                                **dict(self.options))
            del searched  # a view into the map, which cannot close while it lives
        return found, unit

    def combine(self, name: str, size: int, measures: Measures, binary: bool, run: Union[Run, None],
                searched: Any) -> ScanResult:
        found, unit = searched if searched is not None else (None, "code points" if self.text else "bytes")
        return ScanResult(measures=measures, repeats=found, unit="code points" if unit == "code points" else "bytes")


def scan_many(
    inputs: Sequence[Union[str, os.PathLike[str]]],
    client: Any = None,
    *,
    chunk_size: int = DEFAULT_CHUNK_SIZE,
    progress: Union[Callable[[int], None], None] = None,
    fragments: int = 5,
    text: Union[bool, None] = None,
    bits: bool = False,
    **options: Any,
) -> Iterator[tuple[str, Any]]:
    """`veltrane.scan` of many inputs on a Dask cluster: (name, ScanResult or ScanFailure), in input order.

    `inputs` are local paths or fsspec URLs (here a str is a name, not data);
    directories and URL prefixes are walked recursively in name order. Each
    input is read by the worker that scans it, never by this process; one
    larger than `chunk_size` bytes is measured in pieces on several workers,
    with figures bit-identical to one pass, and searched for repeats on one.
    Results come as soon as they and all before them are done. Inputs that
    could not be listed come first, as failures. `client` is a
    `distributed.Client` (default: the current one); `progress` is called
    with the bytes of each piece of work done. The other keyword arguments
    are those of `veltrane.scan`.
    """
    from .cli.inputs import expand

    if client is None:
        try:
            from distributed import get_client
        except ImportError:
            raise MissingExtra(f"scan_many needs dask.distributed: {CLUSTER_EXTRA}") from None
        client = get_client()
    if fragments < 0:
        raise ValueError("fragments must be 0 or more")
    unlisted: list[tuple[str, str]] = []
    listed = expand([os.fspath(name) for name in inputs], lambda name, reason: unlisted.append((name, reason)))
    for name, reason in unlisted:
        yield name, ScanFailure(reason)
    job = _ScanJob(fragments, text, bits, tuple(sorted(options.items())))
    with ClusterScan(client, [worker_name(n) for n in listed.paths], listed.sizes, job, chunk_size=chunk_size,
                     progress=progress) as scanning:
        for name, (_, outcome) in zip(listed.paths, scanning):
            yield name, ScanFailure(outcome) if isinstance(outcome, str) else outcome
