"""What the command is busy with, so that an interruption or a closed pipe can name it."""
from __future__ import annotations

import sys

STDIN = "-"


def display(path: str) -> str:
    """How an input is named in messages."""
    return "<stdin>" if path == STDIN else path


def report_error(path: str, message: str) -> None:
    """One failed input: one line on standard error; the command goes on with the others."""
    print(f"veltrane: {display(path)}: {message}", file=sys.stderr, flush=True)


class OutputClosed(Exception):
    """Standard output went away (a broken pipe)."""


class Activity:
    """The input being worked on and what is done with it ("scanning", "profiling")."""

    def __init__(self) -> None:
        self.verb = ""
        self.path: str | None = None
        self.writing = ""

    def start(self, verb: str, path: str, writing: str = "the result of") -> None:
        self.verb, self.path, self.writing = verb, path, writing

    def while_doing(self) -> str:
        return f" while {self.verb} {display(self.path)}" if self.path is not None else ""

    def while_writing(self) -> str:
        return f" while writing {self.writing} {display(self.path)}" if self.path is not None else ""
