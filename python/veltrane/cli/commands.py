"""The commands of `veltrane`, each named once here; the parser adds them in this order.

A command is a module of this package with

    def add_parser(commands: Subcommands) -> None:
        parser = add_command(commands, "NAME", run_NAME, help=..., description=...)
        parser.add_argument(...)

    def run_NAME(args: argparse.Namespace, activity: Activity) -> int: ...

`add_command` (subcommand.py) sets `run_NAME` as what `main` calls with the
parsed arguments; it returns the exit status. Its helpers come from modules
that import no command (numbers, exits, activity, output, subcommand...), so
that a command never imports this table back. The programs of
`veltrane sp800-90b` (iid, restart, conditioning) have a table of their own in
sp800_90b_programs.
"""
from __future__ import annotations

from typing import Protocol

from . import corpus, ent, profile, scan, sp800_22, sp800_90b
from .subcommand import Subcommands


class Command(Protocol):
    def add_parser(self, commands: Subcommands) -> None: ...


COMMANDS: tuple[Command, ...] = (scan, corpus, ent, profile, sp800_90b, sp800_22)
