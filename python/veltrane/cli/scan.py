"""`veltrane scan`: the measures and top repeated fragments of every input, in order."""
from __future__ import annotations

import argparse
import sys
from typing import TYPE_CHECKING, Union

from .._cluster import DEFAULT_CHUNK_SIZE
from .._locations import MissingExtra
from .activity import STDIN, Activity, report_error
from .exits import EXIT_CODES, EXIT_FAILED, EXIT_OK, UsageError
from .fragment_options import add_fragment_filters
from .fragment_limit import MEMORY_SHARE, SEARCH_BYTES_PER_ELEMENT, default_fragment_limit
from .inputs import expand
from .numbers import format_size, parse_size, whole_number
from .output import Output, progress_bar
from .render_csv import SCAN_CSV_HEADER, ScanCsv
from .render_json import ScanJson
from .render_table import ScanTable
from .runner import BINARY_MIN_ENTROPY, JSON_MAX_STARTS, ScannedInput, ScanOptions, Scanner
from .subcommand import Subcommands, add_command

if TYPE_CHECKING:
    from .cluster import ClusterScanner

SCAN_EPILOG = (
    """\
output formats:
  default  an aligned table: one row of measures per input, its fragments below it
  --json   JSON Lines, one object per input with the keys path, unit, every
           figure of veltrane.Measures (size, histogram, shannon_entropy,
           metric_entropy, normalized_entropy, min_entropy, min_entropy_mcv,
           chi_square, chi_square_p, mean, monte_carlo_pi, serial_correlation,
           ...; null where undefined), fragments (null when not searched; else a
           list of objects with id, length, count, occurrences [{start, end}, ...]
           and preview) and fragments_skipped (why the search did not run, or null)
  --csv    a header line, then one row per input:
             """
    + ",".join(SCAN_CSV_HEADER)
    + """
           the first seven columns are exactly ent's terse (-t) layout, printed as
           ent prints them (File-bits with --bits); ours follow with all their
           digits, the input's name last. No fragments in CSV.

"""
    + EXIT_CODES
)


def add_parser(commands: Subcommands) -> None:
    scan = add_command(
        commands,
        "scan",
        run_scan,
        help="measures and top repeated fragments of files, directories (recursively) and - (standard input)",
        description="Size, Shannon entropy (bits per byte), metric entropy (H/8), normalised entropy, "
        "min-entropy and the top repeated fragments of each input.",
        epilog=SCAN_EPILOG,
    )
    scan.add_argument("paths", nargs="+", metavar="PATH",
                      help="a file, a directory (scanned recursively), a URL (s3://, gs://, https://, memory://... "
                      "any fsspec URL; a prefix is scanned recursively) or -")
    scan.add_argument("--fragments", type=whole_number(0), default=5, metavar="N",
                      help="how many repeated fragments to show (default 5; 0 skips the search)")
    scan.add_argument("--times", type=whole_number(1), default=2, metavar="T",
                      help="least number of non-overlapping occurrences of a fragment (default 2)")
    scan.add_argument("--min-length", type=whole_number(1), default=4, metavar="L",
                      help="shortest fragment to report, in elements (default 4)")
    add_fragment_filters(scan, elements="elements", entropy_default=f"none, {BINARY_MIN_ENTROPY} for binary inputs")
    # The search leaves out overlapping fragments by default now; the old flag stays accepted.
    scan.add_argument("--global-non-overlap", action="store_true", help=argparse.SUPPRESS)
    scan.add_argument("--text", action="store_true",
                      help="search each input as UTF-8 text, in code points instead of bytes")
    scan.add_argument("--bits", action="store_true",
                      help="measure the bits of each input (most significant first), as ent -b does")
    scan.add_argument("--fragment-limit", type=parse_size, default=None, metavar="SIZE",
                      help="skip the fragment search on inputs larger than SIZE (default: 1/"
                      f"{MEMORY_SHARE} of the installed memory at {SEARCH_BYTES_PER_ELEMENT} bytes per input "
                      "byte, shared by the processes searching, rounded down to a power of two; here "
                      f"{format_size(default_fragment_limit(1))} for one process)")
    form = scan.add_mutually_exclusive_group()
    form.add_argument("--json", action="store_true", help="write JSON Lines, one object per input")
    form.add_argument("--csv", action="store_true", help="write CSV rows (ent -t compatible first columns)")
    scan.add_argument("--jobs", "-j", type=whole_number(1), default=1, metavar="N",
                      help="scan files in N processes (default 1)")
    scan.add_argument("--scheduler", metavar="ADDRESS", default=None,
                      help="scan on the Dask cluster whose scheduler is at ADDRESS (tcp://host:8786), or on a new "
                      "local cluster of N worker processes with local:N; each worker reads its inputs itself "
                      "(needs pip install 'veltrane[cluster]')")
    scan.add_argument("--chunk-size", type=parse_size, default=DEFAULT_CHUNK_SIZE, metavar="SIZE",
                      help="with --scheduler: measure inputs larger than SIZE in pieces of SIZE on different "
                      f"workers (default {DEFAULT_CHUNK_SIZE >> 20}M)")
    scan.add_argument("--quiet", "-q", action="store_true", help="no progress bar")


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
