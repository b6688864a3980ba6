"""`veltrane sp800-90b restart`: NIST SP 800-90B's restart tests on one file of 1000 restarts of 1000 samples."""
from __future__ import annotations

import argparse

from .._sp800_90b_restart import RestartTest, assess_restart
from .activity import Activity
from .render_sp800_restart import as_json, summary, verbose
from .sample_file import run_on_samples
from .sp800_90b_arguments import add_output_arguments, add_seed_argument, add_width_argument


def entropy_bits(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not 0.0 < value <= 8.0:
        raise argparse.ArgumentTypeError(f"must lie in (0, 8] bits per sample: {text!r}")
    return value


def add_restart_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("path", metavar="FILE",
                        help="1000 restarts of 1000 samples, one per byte, restart after restart (or -)")
    parser.add_argument("--h-initial", type=entropy_bits, required=True, metavar="H",
                        help="the initial entropy estimate H_I, in bits per sample")
    add_width_argument(parser)
    parser.add_argument("--iid", action="store_true",
                        help="validate as the IID track does: the most common value estimate and the "
                        "permutation tests (default: the non-IID estimators)")
    add_seed_argument(parser)
    add_output_arguments(parser, json_help="write one JSON object with every figure",
                         verbose_help="every figure in the layout of NIST's tool (ea_restart -v)")


def run_restart(args: argparse.Namespace, activity: Activity) -> int:
    def render(name: str, t: RestartTest, sha256: str) -> str:
        return as_json(name, t) if args.json else verbose(name, t, sha256) if args.verbose else summary(name, t)

    return run_on_samples(args, activity, verb="restart tests", unit=" rounds" if args.iid else " estimators",
                          render=render, assess=lambda content, words: assess_restart(
                              content, args.h_initial, args.bits, args.iid, args.seed, words))
