"""The parser of the command line: the program's own options, then every command's (see `commands`)."""
from __future__ import annotations

import argparse

from .commands import COMMANDS
from .exits import EXIT_CODES, Parser


def build_parser() -> argparse.ArgumentParser:
    parser = Parser(
        prog="veltrane",
        description="How random or how repetitive data is: entropy measures, repeated fragments, entropy profiles.",
        epilog=EXIT_CODES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("--version", action="version", version=f"veltrane {_version()}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=Parser)
    commands.required = True
    for command in COMMANDS:
        command.add_parser(commands)
    return parser


def _version() -> str:
    import _veltrane

    return _veltrane.version()
