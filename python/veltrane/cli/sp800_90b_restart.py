"""`veltrane sp800-90b restart`: NIST SP 800-90B's restart tests on one file of 1000 restarts of 1000 samples."""
from __future__ import annotations

import argparse
import hashlib
import sys

from .._locations import describe_error
from .._scan import mapped, mapped_file
from .._sp800_90b_restart import assess_restart
from .activity import STDIN, Activity, display, report_error
from .engine_progress import with_progress_bar
from .exits import EXIT_FAILED, EXIT_OK
from .output import Output
from .render_sp800_restart import as_json, summary, verbose
from .sp800_90b_arguments import add_seed_argument, add_width_argument


def entropy_bits(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not 0.0 < value <= 8.0:
        raise argparse.ArgumentTypeError(f"must lie in (0, 8] bits per sample: {text!r}")
    return value


def add_restart_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("path", metavar="FILE",
                        help="1000 restarts of 1000 samples, one per byte, restart after restart (or -)")
    parser.add_argument("--h-initial", type=entropy_bits, required=True, metavar="H",
                        help="the initial entropy estimate H_I, in bits per sample")
    add_width_argument(parser)
    parser.add_argument("--iid", action="store_true",
                        help="validate as the IID track does: the most common value estimate and the "
                        "permutation tests (default: the non-IID estimators)")
    add_seed_argument(parser)
    form = parser.add_mutually_exclusive_group()
    form.add_argument("--json", action="store_true", help="write one JSON object with every figure")
    form.add_argument("--verbose", "-v", action="store_true",
                      help="every figure in the layout of NIST's tool (ea_restart -v)")
    parser.add_argument("--quiet", "-q", action="store_true", help="no progress bar")


def run_restart(args: argparse.Namespace, activity: Activity) -> int:
    activity.start("testing", args.path, writing="the restart tests of")
    try:
        with mapped_file(sys.stdin.buffer) if args.path == STDIN else mapped(args.path) as content:
            sha256 = hashlib.sha256(content).hexdigest() if args.verbose else ""
            result = with_progress_bar(
                lambda words: assess_restart(content, args.h_initial, args.bits, args.iid, args.seed, words),
                unit=" rounds" if args.iid else " estimators", desc="restart tests", quiet=args.quiet)
    except (OSError, MemoryError, ValueError) as error:
        report_error(args.path, describe_error(error))
        return EXIT_FAILED
    name = display(args.path)
    text = as_json(name, result) if args.json else verbose(name, result, sha256) if args.verbose else \
        summary(name, result)
    Output(sys.stdout).write(text)
    return EXIT_OK
