"""The `veltrane` command line.

`main` parses the arguments, runs one command and turns whatever ends it into
an exit status. This is the only place that maps an interruption or a closed
output to an exit code; the commands report their own input failures and say
what they are busy with, so the one message printed here can name it.
"""
from __future__ import annotations

import os
import sys
from collections.abc import Sequence
from typing import Union

from .activity import Activity, OutputClosed
from .exits import EXIT_FAILED, EXIT_INTERRUPTED, EXIT_OK, EXIT_USAGE, UsageError
from .options import build_parser
from .sp800_90b_programs import parse_program

__all__ = ["main", "EXIT_OK", "EXIT_FAILED", "EXIT_USAGE", "EXIT_INTERRUPTED"]


def main(argv: Union[Sequence[str], None] = None) -> int:
    """Runs the command line; returns the exit status."""
    activity = Activity()
    try:
        given = sys.argv[1:] if argv is None else list(argv)
        args = parse_program(given) or build_parser().parse_args(given)
        return int(args.run(args, activity))
    except UsageError as error:
        print(f"veltrane: {error}", file=sys.stderr)
        return EXIT_USAGE
    except KeyboardInterrupt:
        print(f"veltrane: interrupted{activity.while_doing()}", file=sys.stderr)
        return EXIT_INTERRUPTED
    except (OutputClosed, BrokenPipeError):
        _silence_stdout()
        print(f"veltrane: output closed (broken pipe){activity.while_writing()}; stopped", file=sys.stderr)
        return EXIT_FAILED


def _silence_stdout() -> None:
    # Nothing more can reach the reader; keep the interpreter's final flush from failing too.
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
    except (OSError, ValueError):
        pass
