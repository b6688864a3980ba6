"""`veltrane sp800-90b iid`: NIST SP 800-90B's IID track on one file of samples."""
from __future__ import annotations

import argparse
import hashlib
import sys

from .._locations import describe_error
from .._scan import mapped, mapped_file
from .._sp800_90b_iid import assess_iid
from .activity import STDIN, Activity, display, report_error
from .engine_progress import with_progress_bar
from .exits import EXIT_FAILED, EXIT_OK
from .output import Output
from .render_sp800_iid import as_json, summary, verbose
from .sp800_90b_arguments import add_seed_argument, add_width_argument


def add_iid_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("path", metavar="FILE", help="a file of samples, one per byte, or - for standard input")
    add_width_argument(parser)
    add_seed_argument(parser)
    parser.add_argument("--conditioned", "-c", action="store_true",
                        help="the samples are a conditioning component's output: the initial entropy is the "
                        "bitstring's estimate alone, per bit")
    form = parser.add_mutually_exclusive_group()
    form.add_argument("--json", action="store_true", help="write one JSON object with every figure and the seed")
    form.add_argument("--verbose", "-v", action="store_true",
                      help="every figure in the layout of NIST's tool (ea_iid -vvv), then the verdict and the seed")
    parser.add_argument("--quiet", "-q", action="store_true", help="no progress bar")


def run_iid(args: argparse.Namespace, activity: Activity) -> int:
    activity.start("assessing", args.path, writing="the assessment of")
    try:
        with mapped_file(sys.stdin.buffer) if args.path == STDIN else mapped(args.path) as content:
            sha256 = hashlib.sha256(content).hexdigest() if args.verbose else ""
            assessment = with_progress_bar(
                lambda words: assess_iid(content, args.bits, args.seed, args.conditioned, words),
                unit=" rounds", desc="shuffling", quiet=args.quiet)
    except (OSError, MemoryError, ValueError) as error:
        report_error(args.path, describe_error(error))
        return EXIT_FAILED
    name = display(args.path)
    text = as_json(name, assessment) if args.json else verbose(name, assessment, sha256) if args.verbose else \
        summary(name, assessment)
    Output(sys.stdout).write(text)
    return EXIT_OK
