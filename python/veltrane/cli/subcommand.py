"""What every command's parser shares: how it is added under `veltrane`, and the function that runs it."""
from __future__ import annotations

import argparse
from typing import Any, Callable, TypeAlias

from .activity import Activity
from .exits import EXIT_CODES, Parser

#: Where a command adds its parser: what `add_subparsers` returned (generic only to the type checker).
Subcommands: TypeAlias = "argparse._SubParsersAction[Parser]"

#: Runs a parsed command line; returns the exit status.
Run = Callable[[argparse.Namespace, Activity], int]


def add_command(commands: Subcommands, name: str, run: Run, *, help: str, description: str,
                epilog: str = EXIT_CODES, **more: Any) -> Parser:
    """One command: its texts, its epilog laid out as written, and the function that runs it."""
    command = commands.add_parser(name, help=help, description=description, epilog=epilog,
                                  formatter_class=argparse.RawDescriptionHelpFormatter, **more)
    command.set_defaults(run=run)
    return command
