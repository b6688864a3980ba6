"""The programs of `veltrane sp800-90b` besides the non-IID track: `iid`, `restart` and `conditioning`.

`veltrane sp800-90b FILE` stays the non-IID assessment; a first argument naming one
of these programs runs it instead, with its own options (a file of that name is
still reachable as ./iid).
"""
from __future__ import annotations

import argparse
import textwrap
from collections.abc import Sequence
from typing import Callable, NamedTuple, Union

from . import sp800_90b_conditioning, sp800_90b_iid, sp800_90b_restart
from .exits import EXIT_CODES, Parser
from .subcommand import Run


class Program(NamedTuple):
    summary: str
    description: str
    add_arguments: Callable[[argparse.ArgumentParser], None]
    run: Run


PROGRAMS: dict[str, Program] = {
    "iid": Program(
        "the IID track: chi-square, LRS and permutation tests, reproducible from a seed",
        "NIST SP 800-90B's IID track (section 5) on the samples of FILE, one per byte: the initial entropy "
        "estimate (most common value, as they are and as bits), the chi-square tests, the longest repeated "
        "substring test and the permutation test of 19 statistics over up to 10,000 shuffles, which NIST's "
        "tool makes from the same seed the same way. The data is IID when all three pass; its min-entropy "
        "is then the initial estimate.",
        sp800_90b_iid.add_iid_arguments, sp800_90b_iid.run_iid),
    "restart": Program(
        "the restart tests: the sanity check (its cutoff computed exactly) and the validation",
        "NIST SP 800-90B's restart tests (section 3.1.4) on FILE, 1000 restarts of 1000 samples each, one "
        "sample per byte, restart after restart: the sanity check of the most common value in any restart "
        "or position against the cutoff for H_I, then the row and column datasets assessed with the "
        "non-IID estimators (or, with --iid, the most common value and the permutation tests); the "
        "validation passes when min(H_r, H_c) >= H_I / 2.",
        sp800_90b_restart.add_restart_arguments, sp800_90b_restart.run_restart),
    "conditioning": Program(
        "the entropy a conditioning component leaves (h_out), exactly",
        "NIST SP 800-90B's conditioning calculation (section 3.1.5): the entropy h_out of the N_OUT-bit "
        "output of a conditioning function given N_IN input bits of entropy H_IN and internal width NW, for "
        "a vetted function or, with --non-vetted, capped by the assessed entropy per bit h' of its outputs; "
        "evaluated exactly and rounded once, with NIST's tool's 22 digits.",
        sp800_90b_conditioning.add_conditioning_arguments, sp800_90b_conditioning.run_conditioning),
}

PROGRAMS_EPILOG = "programs:\n" + "".join(
    f"  veltrane sp800-90b {name + ' ...':<17} {p.summary}\n" for name, p in PROGRAMS.items()) + \
    "  (veltrane sp800-90b NAME --help for each one's options)\n"


def program_parser(name: str) -> argparse.ArgumentParser:
    program = PROGRAMS[name]
    parser = Parser(prog=f"veltrane sp800-90b {name}", description=textwrap.fill(program.description, 79),
                    epilog=EXIT_CODES,
                    formatter_class=argparse.RawDescriptionHelpFormatter)
    program.add_arguments(parser)
    parser.set_defaults(run=program.run)
    return parser


def parse_program(argv: Sequence[str]) -> Union[argparse.Namespace, None]:
    """The arguments of `veltrane sp800-90b PROGRAM ...`, or None for any other command line."""
    if len(argv) >= 2 and argv[0] == "sp800-90b" and argv[1] in PROGRAMS:
        return program_parser(argv[1]).parse_args(list(argv[2:]))
    return None

