"""`veltrane scan`: the measures and top repeated fragments of every input, in order."""
from __future__ import annotations

import argparse
import sys
from typing import TYPE_CHECKING, Union

from .._locations import MissingExtra

from .activity import STDIN, Activity, report_error
from .exits import EXIT_FAILED, EXIT_OK, UsageError
from .inputs import expand
from .output import Output, progress_bar
from .render_csv import ScanCsv
from .render_json import ScanJson
from .render_table import ScanTable
if TYPE_CHECKING:
    from .cluster import ClusterScanner
from .runner import JSON_MAX_STARTS, ScannedInput, ScanOptions, Scanner, default_fragment_limit


def run_scan(args: argparse.Namespace, activity: Activity) -> int:
    if args.paths.count(STDIN) > 1:
        raise UsageError("standard input (-) can be given only once")
    if args.max_length is not None and args.max_length < args.min_length:
        raise UsageError(f"--max-length ({args.max_length}) must be at least --min-length ({args.min_length})")
    options = ScanOptions(
        fragments=0 if args.csv else args.fragments,  # CSV carries no fragments: do not search for them
        times=args.times,
        text=args.text,
        fragment_limit=args.fragment_limit or default_fragment_limit(args.jobs),
        bits=args.bits,
        min_length=args.min_length,
        max_length=args.max_length,
        rank=args.rank,
        min_entropy=args.min_entropy,
        raw=args.raw,
        overlap=args.overlap,
        max_starts=JSON_MAX_STARTS,
    )
    try:
        inputs = expand(args.paths, report_error)
    except MissingExtra as error:
        raise UsageError(str(error)) from None
    failures = inputs.failures
    if not inputs.paths:
        return EXIT_FAILED if failures else EXIT_OK
    bar = progress_bar(inputs.total_bytes, len(inputs.paths), args.quiet)
    output = Output(sys.stdout, bar)
    renderer = ScanJson(output) if args.json else ScanCsv(output, args.bits) if args.csv else ScanTable(output)
    scanner: Union[Scanner, ClusterScanner]
    if args.scheduler is not None:
        from .cluster import ClusterScanner

        # The cluster reports bytes as its tasks complete, wherever they run.
        scanner = ClusterScanner(args.scheduler, inputs.paths, inputs.sizes, options, args.chunk_size, activity,
                                 None if bar is None else bar.update)
    else:
        scanner = Scanner(inputs.paths, options, args.jobs, activity)
    try:
        with scanner:  # first: a cluster that cannot be reached is a usage error, before any output
            renderer.header()
            for path, outcome in scanner:
                if isinstance(outcome, ScannedInput):
                    renderer.record(outcome)
                else:
                    report_error(path, outcome)
                    failures += 1
                if bar is not None and isinstance(outcome, ScannedInput) and path != STDIN and not args.scheduler:
                    bar.update(outcome.result.size // 8 if args.bits else outcome.result.size)
    finally:
        if bar is not None:
            bar.close()
    return EXIT_FAILED if failures else EXIT_OK
