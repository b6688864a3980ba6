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

from .._measures import measure
from .._scan import mapped, mapped_file
from .activity import STDIN, Activity, display, report_error
from .exits import EXIT_FAILED, EXIT_OK, UsageError
from .._locations import describe_error
from .output import Output
from .render_csv import csv_line
from .render_ent import counts_table, report, terse_counts, terse_header, terse_values


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
