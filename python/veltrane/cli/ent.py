"""`veltrane ent`: Debian's `ent`, byte for byte, for any number of files.

With one input (a file, or standard input when none is named) the output is
exactly ent's, for every combination of -b, -c, -f and -t. With several, each
report is headed by "==> FILE <==" and separated by a blank line (as `head`
does); in terse mode the header is written once and each values row ends
with the input's name.
"""
from __future__ import annotations

import argparse
import sys

from .._locations import describe_error
from .._mapped import mapped, mapped_file
from .._measures import measure
from .activity import STDIN, Activity, display, report_error
from .exits import EXIT_FAILED, EXIT_OK, UsageError
from .output import Output
from .render_csv import csv_line
from .render_ent import counts_table, report, terse_counts, terse_header, terse_values
from .subcommand import Subcommands, add_command


def add_parser(commands: Subcommands) -> None:
    ent = add_command(
        commands,
        "ent",
        run_ent,
        help="the output of ent (Debian's randomness test), byte for byte, for any number of files",
        description="Entropy, chi-square, mean, Monte Carlo pi and serial correlation of each FILE (standard "
        "input when none is given), printed exactly as ent prints them. Flags combine (-bct) and ignore case.",
        add_help=False,
    )
    ent.add_argument("files", nargs="*", metavar="FILE", help="a file, or - for standard input (the default)")
    ent.add_argument("-b", "-B", dest="bits", action="store_true", help="treat the input as a stream of bits")
    ent.add_argument("-c", "-C", dest="counts", action="store_true", help="print occurrence counts")
    ent.add_argument("-f", "-F", dest="fold", action="store_true", help="fold upper to lower case letters")
    ent.add_argument("-t", "-T", dest="terse", action="store_true", help="terse output in CSV format")
    ent.add_argument("-u", "-U", "-h", "--help", action="help", help="print this message")


def run_ent(args: argparse.Namespace, activity: Activity) -> int:
    paths = args.files or [STDIN]
    if paths.count(STDIN) > 1:
        raise UsageError("standard input (-) can be given only once")
    several = len(paths) > 1
    output = Output(sys.stdout)
    failures = 0
    if args.terse:
        output.write(terse_header(args.bits) + (",File" if several else "") + "\n")
    for index, path in enumerate(paths):
        activity.start("measuring", path)
        try:
            with mapped_file(sys.stdin.buffer) if path == STDIN else mapped(path) as content:
                measures = measure(content, bits=args.bits, case_fold=args.fold)
        except (OSError, MemoryError, ValueError) as error:
            report_error(path, describe_error(error))
            failures += 1
            continue
        if args.terse:
            values = ["1", *terse_values(measures)]
            output.write(csv_line([*values, display(path)]) if several else ",".join(values) + "\n")
            if args.counts:
                output.write("".join(line + "\n" for line in terse_counts(measures)))
            continue
        if several:
            output.write(("\n" if index else "") + f"==> {display(path)} <==\n")
        if args.counts:
            output.write_bytes(counts_table(measures))
        output.write(report(measures))
    return EXIT_FAILED if failures else EXIT_OK
