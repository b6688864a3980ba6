"""`veltrane sp800-90b conditioning`: the entropy a conditioning component leaves (SP 800-90B 3.1.5).

    veltrane sp800-90b conditioning N_IN N_OUT NW H_IN [--non-vetted (--h-prime H | --from FILE [--bits W])] [--json]

H_IN and H count as the decimal numbers written. A non-vetted function's h' is
given, or assessed on a file of its outputs (one sample per byte) by the non-IID
estimators: the per-bit figure, H_bitstring (H_original for 1-bit samples).
"""
from __future__ import annotations

import argparse
import sys
from decimal import Decimal, InvalidOperation
from typing import Union

from .._conditioning import sp800_90b_conditioning
from .._locations import describe_error
from .._mapped import mapped, mapped_file
from .._sp800_90b import Assessment, assess
from .activity import STDIN, Activity, display, report_error
from .engine_progress import with_progress_bar
from .exits import EXIT_FAILED, EXIT_OK, UsageError
from .numbers import whole_number
from .output import Output
from .render_sp800_conditioning import HPrimeSource, as_json, as_text
from .sp800_90b_arguments import bits_per_symbol


def entropy_number(text: str) -> Decimal:
    """A finite decimal number of bits, kept exactly as written."""
    try:
        value = Decimal(text.strip())
    except InvalidOperation:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not value.is_finite():
        raise argparse.ArgumentTypeError(f"must be a finite number: {text!r}")
    return value


def add_conditioning_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("n_in", metavar="N_IN", type=whole_number(1),
                        help="bits of input the function takes for each output")
    parser.add_argument("n_out", metavar="N_OUT", type=whole_number(1), help="bits of each output")
    parser.add_argument("nw", metavar="NW", type=whole_number(1),
                        help="the narrowest internal width of the function, in bits")
    parser.add_argument("h_in", metavar="H_IN", type=entropy_number,
                        help="the entropy of the N_IN input bits, 0 to N_IN (a decimal number, taken exactly)")
    parser.add_argument("--non-vetted", action="store_true",
                        help="the function is not one of the standard's vetted ones: h_out is also capped at "
                        "0.999 x N_OUT and at h' x N_OUT (needs --h-prime or --from)")
    source = parser.add_mutually_exclusive_group()
    source.add_argument("--h-prime", metavar="H", type=entropy_number,
                        help="with --non-vetted: the entropy per bit measured on the function's outputs, 0 < H <= 1")
    source.add_argument("--from", dest="from_file", metavar="FILE",
                        help="with --non-vetted: assess h' on FILE, the function's outputs one sample per byte "
                        "(- for standard input), with the non-IID estimators: H_bitstring per bit "
                        "(H_original for 1-bit samples)")
    parser.add_argument("--bits", type=bits_per_symbol, default=None, metavar="W",
                        help="with --from: bits per sample, 1 to 8 (default: what the largest sample needs)")
    parser.add_argument("--json", action="store_true", help="write one JSON object with every figure")
    parser.add_argument("--quiet", "-q", action="store_true", help="no progress bar while --from is assessed")


def run_conditioning(args: argparse.Namespace, activity: Activity) -> int:
    _check_combination(args)
    h_prime: Union[Decimal, float, None] = args.h_prime
    source = HPrimeSource()
    if args.from_file is not None:
        assessed = _assess_h_prime(args.from_file, args.bits, args.quiet, activity)
        if assessed is None:
            return EXIT_FAILED
        h_prime, source = assessed
    try:
        result = sp800_90b_conditioning(args.n_in, args.n_out, args.nw, args.h_in, vetted=not args.non_vetted,
                                        h_prime=h_prime)
    except ValueError as error:
        if args.from_file is None:
            raise UsageError(str(error)) from None
        report_error(args.from_file, str(error))  # an assessment outside (0, 1]
        return EXIT_FAILED
    text = as_json(result, source) if args.json else as_text(result, source, args.h_in, args.h_prime)
    Output(sys.stdout).write(text)
    return EXIT_OK


def _check_combination(args: argparse.Namespace) -> None:
    given = args.h_prime is not None or args.from_file is not None
    if args.non_vetted and not given:
        raise UsageError("--non-vetted needs h': give --h-prime H or --from FILE")
    if given and not args.non_vetted:
        raise UsageError("--h-prime and --from are for --non-vetted functions (a vetted one takes no h')")
    if args.bits is not None and args.from_file is None:
        raise UsageError("--bits is the sample width of the --from file; give --from FILE too")


def _assess_h_prime(path: str, bits: Union[int, None], quiet: bool,
                    activity: Activity) -> Union[tuple[float, HPrimeSource], None]:
    """h' from the non-IID assessment of the function's outputs; None (reported) when the file fails."""
    activity.start("assessing", path, writing="the conditioning with h' from")
    try:
        with mapped_file(sys.stdin.buffer) if path == STDIN else mapped(path) as content:
            assessment = _assess_with_bar(content, bits, quiet=quiet)
    except (OSError, MemoryError, ValueError) as error:
        report_error(path, describe_error(error))
        return None
    per_bit = assessment.h_original if assessment.h_bitstring is None else assessment.h_bitstring
    if not per_bit > 0.0:
        report_error(path, "its assessed entropy is 0 bits per bit: no h' for a function that adds none")
        return None
    return per_bit, HPrimeSource(display(path), assessment.samples, assessment.width)


def _assess_with_bar(content: Union[memoryview, bytes], bits: Union[int, None], quiet: bool) -> Assessment:
    return with_progress_bar(lambda words: assess(content, bits, words), unit=" estimators", desc="assessing",
                             quiet=quiet)
