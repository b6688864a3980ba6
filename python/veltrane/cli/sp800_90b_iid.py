"""`veltrane sp800-90b iid`: NIST SP 800-90B's IID track on one file of samples."""
from __future__ import annotations

import argparse

from .._sp800_90b_iid import IidAssessment, assess_iid
from .activity import Activity
from .render_sp800_iid import as_json, summary, verbose
from .sample_file import run_on_samples
from .sp800_90b_arguments import add_output_arguments, add_seed_argument, add_width_argument


def add_iid_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("path", metavar="FILE", help="a file of samples, one per byte, or - for standard input")
    add_width_argument(parser)
    add_seed_argument(parser)
    parser.add_argument("--conditioned", "-c", action="store_true",
                        help="the samples are a conditioning component's output: the initial entropy is the "
                        "bitstring's estimate alone, per bit")
    add_output_arguments(parser, json_help="write one JSON object with every figure and the seed",
                         verbose_help="every figure in the layout of NIST's tool (ea_iid -vvv), then the verdict "
                         "and the seed")


def run_iid(args: argparse.Namespace, activity: Activity) -> int:
    def render(name: str, a: IidAssessment, sha256: str) -> str:
        return as_json(name, a) if args.json else verbose(name, a, sha256) if args.verbose else summary(name, a)

    return run_on_samples(args, activity, verb="shuffling", unit=" rounds", render=render,
                          assess=lambda content, words: assess_iid(content, args.bits, args.seed, args.conditioned,
                                                                   words))
