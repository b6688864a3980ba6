"""`veltrane profile`: entropy window by window along one input, with its edges."""
from __future__ import annotations

import argparse
import sys

from .._locations import describe_error
from .._mapped import mapped, mapped_file
from .._profile import MEASURES, entropy_profile
from .activity import STDIN, Activity, display, report_error
from .exits import EXIT_FAILED, EXIT_OK, UsageError
from .numbers import fraction, parse_size
from .output import Output
from .plot import draw_profile, require_matplotlib
from .render_csv import profile_csv
from .render_json import profile_json
from .render_table import profile_table
from .subcommand import Subcommands, add_command


def add_parser(commands: Subcommands) -> None:
    profile = add_command(
        commands,
        "profile",
        run_profile,
        help="entropy window by window along a file, with its rising and falling edges",
        description="Entropy of each window along FILE; rising and falling edges are found with hysteresis: "
        "a rise when a window reaches --high after a low stretch, a fall when one drops below --low "
        "after a high stretch. Edges are reported as the offset of the first window past the threshold.",
    )
    profile.add_argument("path", metavar="FILE", help="a file, or - for standard input")
    profile.add_argument("--window", type=parse_size, required=True, metavar="SIZE",
                         help="window size in bytes (suffixes K, M, G)")
    profile.add_argument("--step", type=parse_size, default=None, metavar="STEP",
                         help="distance between window starts (default: the window size)")
    profile.add_argument("--high", type=fraction, default=0.95, help="rising threshold (default 0.95)")
    profile.add_argument("--low", type=fraction, default=0.85, help="falling threshold (default 0.85)")
    profile.add_argument("--measure", choices=sorted(MEASURES), default="metric",
                         help="metric: H/8 (default); normalized: H over what random data of the window's "
                         "length scores (better for windows under a few KiB)")
    profile.add_argument("--windows", action="store_true", help="also list every window's value")
    profile.add_argument("--plot", metavar="PNG", help="draw the profile and its edges into this PNG file "
                         "(needs matplotlib: pip install 'veltrane[plot]')")
    form = profile.add_mutually_exclusive_group()
    form.add_argument("--json", action="store_true", help="write one JSON object")
    form.add_argument("--csv", action="store_true", help="write CSV: offset,end,value per window")


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
