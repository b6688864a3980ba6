"""`veltrane sp800-90b`: NIST SP 800-90B's non-IID min-entropy assessment of one file of samples."""
from __future__ import annotations

import argparse
import sys
from typing import Union

from .._locations import describe_error
from .._scan import mapped, mapped_file
from .._sp800_90b import Assessment, assess
from .activity import STDIN, Activity, display, report_error
from .engine_progress import with_progress_bar
from .exits import EXIT_FAILED, EXIT_OK
from .output import Output
from .render_sp800 import as_json, summary, verbose


def run_sp800_90b(args: argparse.Namespace, activity: Activity) -> int:
    activity.start("assessing", args.path, writing="the assessment of")
    try:
        with mapped_file(sys.stdin.buffer) if args.path == STDIN else mapped(args.path) as content:
            assessment = assess_with_bar(content, args.bits, quiet=args.quiet)
    except (OSError, MemoryError, ValueError) as error:
        report_error(args.path, describe_error(error))
        return EXIT_FAILED
    name = display(args.path)
    text = as_json(name, assessment) if args.json else verbose(name, assessment) if args.verbose else summary(
        name, assessment)
    Output(sys.stdout).write(text)
    return EXIT_OK


def assess_with_bar(content: Union[memoryview, bytes], bits: Union[int, None], quiet: bool) -> Assessment:
    return with_progress_bar(lambda words: assess(content, bits, words), unit=" estimators", desc="assessing",
                             quiet=quiet)
