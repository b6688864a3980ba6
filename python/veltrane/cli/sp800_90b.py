"""`veltrane sp800-90b`: NIST SP 800-90B's non-IID min-entropy assessment of one file of samples."""
from __future__ import annotations

import argparse
from typing import Union

from .._sp800_90b import Assessment, assess
from .activity import Activity
from .engine_progress import with_progress_bar
from .render_sp800 import as_json, summary, verbose
from .sample_file import run_on_samples


def run_sp800_90b(args: argparse.Namespace, activity: Activity) -> int:
    def render(name: str, a: Assessment, _sha256: str) -> str:
        return as_json(name, a) if args.json else verbose(name, a) if args.verbose else summary(name, a)

    return run_on_samples(args, activity, verb="assessing", unit=" estimators", render=render,
                          assess=lambda content, words: assess(content, args.bits, words))


def assess_with_bar(content: Union[memoryview, bytes], bits: Union[int, None], quiet: bool) -> Assessment:
    return with_progress_bar(lambda words: assess(content, bits, words), unit=" estimators", desc="assessing",
                             quiet=quiet)
