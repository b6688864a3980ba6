"""`veltrane sp800-90b`: NIST SP 800-90B's non-IID min-entropy assessment of one file of samples."""
from __future__ import annotations

import argparse
import sys
import threading
from array import array
from typing import Union

from tqdm import tqdm  # type: ignore[import-untyped,unused-ignore]

from .._locations import describe_error
from .._scan import mapped, mapped_file
from .._sp800_90b import Assessment, assess
from .activity import STDIN, Activity, display, report_error
from .exits import EXIT_FAILED, EXIT_OK
from .output import Output
from .render_sp800 import as_json, summary, verbose

# How often the bar looks at the engine's progress words.
POLL_SECONDS = 0.1


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
    """The assessment on this thread (so Ctrl-C reaches it), a bar fed from the engine's progress meanwhile."""
    if quiet or not sys.stderr.isatty():
        return assess(content, bits)
    words = array("Q", [0, 0])
    done = threading.Event()

    def follow() -> None:
        with tqdm(total=None, unit=" estimators", delay=1.0, file=sys.stderr, leave=False,
                  desc="assessing", dynamic_ncols=True) as bar:
            while not done.wait(POLL_SECONDS):
                finished, total = words[0], words[1]
                if total and bar.total != total:
                    bar.total = total
                bar.n = finished
                bar.refresh()

    watcher = threading.Thread(target=follow, daemon=True)
    watcher.start()
    try:
        return assess(content, bits, words)
    finally:
        done.set()
        watcher.join()
