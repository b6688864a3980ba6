"""`veltrane profile`: entropy window by window along one input, with its edges."""
from __future__ import annotations

import argparse
import sys

from .._profile import entropy_profile
from .._scan import mapped, mapped_file
from .activity import STDIN, Activity, display, report_error
from .exits import EXIT_FAILED, EXIT_OK, UsageError
from .._locations import describe_error
from .output import Output
from .plot import draw_profile, require_matplotlib
from .render_csv import profile_csv
from .render_json import profile_json
from .render_table import profile_table


def run_profile(args: argparse.Namespace, activity: Activity) -> int:
    if args.low > args.high:
        raise UsageError(f"--low ({args.low}) must not exceed --high ({args.high})")
    if args.plot:
        require_matplotlib()
    activity.start("profiling", args.path, writing="the profile of")
    try:
        with mapped_file(sys.stdin.buffer) if args.path == STDIN else mapped(args.path) as content:
            profile = entropy_profile(content, args.window, args.step, high=args.high, low=args.low,
                                      measure=args.measure)
    except (OSError, MemoryError, ValueError) as error:
        report_error(args.path, describe_error(error))
        return EXIT_FAILED
    if args.json:
        text = profile_json(args.path, profile)
    elif args.csv:
        text = profile_csv(profile)
    else:
        text = profile_table(args.path, profile, args.windows)
    Output(sys.stdout).write(text)
    if args.plot:
        try:
            draw_profile(profile, display(args.path), args.plot)
        except (OSError, ValueError) as error:
            report_error(args.plot, describe_error(error))
            return EXIT_FAILED
    return EXIT_OK
