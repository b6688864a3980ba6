"""`veltrane sp800-22`: NIST SP 800-22's fifteen statistical tests on one file of bits."""
from __future__ import annotations

import argparse
import pathlib
import sys
import textwrap
from typing import Any

from .._locations import describe_error
from .._sp800_22 import Run, SeriesCollector
from .._sp800_22_options import PARAMETERS, TESTS, arguments_of
from .._sp800_22_stream import file_bits, stream
from .activity import STDIN, Activity, display, report_error
from .engine_progress import Words, with_progress_bar
from .exits import EXIT_CODES, EXIT_FAILED, EXIT_OK, UsageError
from .numbers import whole_number
from .output import Output
from .render_sp800_22 import JsonStream, table
from .sp800_22_report import ReportTree
from .subcommand import Subcommands, add_command


def setting(text: str) -> tuple[str, int]:
    name, _, value = text.partition("=")
    name = name.strip().replace("-", "_")
    if name not in PARAMETERS:
        raise argparse.ArgumentTypeError(f"unknown parameter {name!r} (one of {', '.join(PARAMETERS)})")
    return name, whole_number(1)(value)


def add_parser(commands: Subcommands) -> None:
    parser = add_command(
        commands, "sp800-22", run_sp800_22,
        help="NIST SP 800-22: the fifteen statistical tests of randomness on sequences cut from a file",
        description=textwrap.fill(
            "NIST SP 800-22 rev. 1a's statistical tests on FILE cut into sequences of --length bits, and their "
            "second level: for every p-value series, the proportion of sequences passing and the uniformity of "
            "the p-values. With --compatible the figures are those of NIST's program (sts 2.1.2), its faults "
            "included; by default they follow the standard's text, and the output says where that differs.", 79),
        epilog="tests (names, NIST's program's names or numbers):\n" + "".join(
            f"  {i + 1:2d} {name:<26} {program}\n" for i, (name, program) in enumerate(TESTS)) +
        "\nparameters (--set NAME=VALUE): " + ", ".join(PARAMETERS) + "\n\n" + EXIT_CODES)
    parser.add_argument("path", metavar="FILE", help="the bits, or - for standard input")
    parser.add_argument("--length", "-n", type=whole_number(1), default=1_000_000, metavar="N",
                        help="bits per sequence (default: 1000000)")
    parser.add_argument("--sequences", "-m", type=whole_number(1), default=None, metavar="M",
                        help="sequences to test (default: as many as the file holds)")
    parser.add_argument("--ascii", action="store_true",
                        help="the file is ASCII '0' and '1' characters (white space between is skipped); "
                        "otherwise raw bytes, most significant bit first")
    parser.add_argument("--tests", "-t", default=None, metavar="LIST",
                        help="comma-separated tests to run (default: all fifteen)")
    parser.add_argument("--set", dest="settings", action="append", type=setting, default=[], metavar="NAME=VALUE",
                        help="a test's parameter, e.g. --set serial_block_length=12 (repeatable)")
    parser.add_argument("--compatible", action="store_true",
                        help="exactly NIST's program's figures (sts 2.1.2), faults included")
    parser.add_argument("--json", action="store_true", help="one JSON object with every figure instead of the table")
    parser.add_argument("--report", type=pathlib.Path, default=None, metavar="DIR",
                        help="also write the tree NIST's program writes (finalAnalysisReport.txt, and per test "
                        "stats.txt, results.txt and data files) into DIR")
    parser.add_argument("--quiet", "-q", action="store_true", help="no progress bar")


def run_sp800_22(args: argparse.Namespace, activity: Activity) -> int:
    tests = None if args.tests is None else [t for t in args.tests.split(",") if t.strip()]
    try:
        run = Run(arguments_of(args.length, tests, "ascii" if args.ascii else "bytes", args.compatible,
                               dict(args.settings)))
    except (TypeError, ValueError) as error:
        raise UsageError(str(error)) from None
    name = display(args.path)
    activity.start("testing", args.path, writing="the results of")
    try:
        with open(sys.stdin.fileno(), "rb", closefd=False) if args.path == STDIN else open(args.path, "rb") as handle:
            count = sequence_count(handle, run.arguments.length, run.arguments.ascii, args.sequences)
            return with_progress_bar(lambda words: test_all(args, run, name, handle, count, words),
                                     unit=" sequences", desc="testing", quiet=args.quiet)
    except (OSError, MemoryError, ValueError) as error:
        report_error(args.path, describe_error(error))
        return EXIT_FAILED


def sequence_count(handle: Any, length: int, ascii: bool, asked: int | None) -> int | None:
    """The sequences to test: those asked for, or all a regular file holds (checked before any test runs);
    None for all that a pipe brings."""
    bits = file_bits(handle, ascii)
    if bits is None:
        return asked
    if asked is None and bits < length:
        raise ValueError(f"length: the data holds fewer than {length} bits, not one sequence")
    if asked is not None and asked > bits // length:
        raise ValueError(f"sequences: the data holds {bits // length} sequences of {length} bits, not {asked}")
    return asked if asked is not None else bits // length


def test_all(args: argparse.Namespace, run: Run, name: str, handle: Any, count: int | None, words: Words) -> int:
    collector = SeriesCollector(run.tests)
    tree = ReportTree(args.report, name, run) if args.report is not None else None
    json_out = JsonStream(sys.stdout, name, run) if args.json else None
    tested = 0
    for sequence in stream(run, handle, count, words):
        tested += 1
        collector.add(sequence)
        if tree is not None:
            tree.add(sequence)
        if json_out is not None:
            json_out.add(sequence)
    if tested == 0:
        raise ValueError(f"length: the data holds fewer than {run.arguments.length} bits, not one sequence")
    series = collector.series(run.arguments.compatible)
    if tree is not None:
        tree.finish(series)
    if json_out is not None:
        json_out.finish(series, tested)
    else:
        Output(sys.stdout).write(table(name, run, tested, series))
    return EXIT_OK
