"""`veltrane sp800-90b`: NIST SP 800-90B's non-IID min-entropy assessment of one file of samples."""
from __future__ import annotations

import argparse

from .._sp800_90b import Assessment, assess
from .activity import Activity
from .exits import EXIT_CODES
from .render_sp800 import as_json, summary, verbose
from .sample_file import run_on_samples
from .sp800_90b_arguments import bits_per_symbol
from .sp800_90b_programs import PROGRAMS_EPILOG
from .subcommand import Subcommands, add_command


def add_parser(commands: Subcommands) -> None:
    sp800 = add_command(
        commands,
        "sp800-90b",
        run_sp800_90b,
        help="NIST SP 800-90B: the non-IID assessment of a file of samples, one per byte; "
        "with iid, restart or conditioning first, the other programs of the assessment",
        description="The ten non-IID estimators of NIST SP 800-90B (section 6.3) on the samples of FILE, one "
        "per byte, as they are and (for widths above 1) as their bitstring; prints H_original, H_bitstring "
        "and the assessed min-entropy min(H_original, width x H_bitstring), in bits per sample.",
        epilog=PROGRAMS_EPILOG + "\n" + EXIT_CODES,
    )
    sp800.add_argument("path", metavar="FILE", help="a file of samples, or - for standard input")
    sp800.add_argument("--bits", type=bits_per_symbol, default=None, metavar="N",
                       help="bits per sample, 1 to 8 (default: what the largest sample needs)")
    form = sp800.add_mutually_exclusive_group()
    form.add_argument("--json", action="store_true", help="write one JSON object with every estimator's figures")
    form.add_argument("--verbose", "-v", action="store_true",
                      help="every estimator's figures, in the layout of NIST's reference tool (17 digits)")
    sp800.add_argument("--quiet", "-q", action="store_true", help="no progress bar")


def run_sp800_90b(args: argparse.Namespace, activity: Activity) -> int:
    def render(name: str, a: Assessment, _sha256: str) -> str:
        return as_json(name, a) if args.json else verbose(name, a) if args.verbose else summary(name, a)

    return run_on_samples(args, activity, verb="assessing", unit=" estimators", render=render,
                          assess=lambda content, words: assess(content, args.bits, words))

