"""The frame of the SP 800-90B commands that assess one file of samples: read, assess with a bar, print."""
from __future__ import annotations

import argparse
import hashlib
import sys
from typing import Callable, TypeVar, Union

from .._locations import describe_error
from .._mapped import mapped, mapped_file
from .activity import STDIN, Activity, display, report_error
from .engine_progress import Words, with_progress_bar
from .exits import EXIT_FAILED, EXIT_OK
from .output import Output

T = TypeVar("T")


def run_on_samples(args: argparse.Namespace, activity: Activity, *, verb: str, unit: str,
                   assess: Callable[[Union[memoryview, bytes], Words], T],
                   render: Callable[[str, T, str], str]) -> int:
    """Assesses the samples of `args.path` (- for standard input) and prints `render(name, result, sha256)`.

    The SHA-256 of the samples (which the verbose layouts name, as NIST's tool does) is computed for
    `--verbose` only. A file that cannot be read, or samples the assessment refuses, make one
    `veltrane: FILE: reason` line and exit status 1.
    """
    activity.start(verb, args.path, writing="the assessment of")
    try:
        with mapped_file(sys.stdin.buffer) if args.path == STDIN else mapped(args.path) as content:
            sha256 = hashlib.sha256(content).hexdigest() if getattr(args, "verbose", False) else ""
            result = with_progress_bar(lambda words: assess(content, words), unit=unit, desc=verb,
                                       quiet=args.quiet)
    except (OSError, MemoryError, ValueError) as error:
        report_error(args.path, describe_error(error))
        return EXIT_FAILED
    Output(sys.stdout).write(render(display(args.path), result, sha256))
    return EXIT_OK
