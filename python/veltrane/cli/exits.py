"""Exit statuses of the command line, and the usage error every command raises."""
from __future__ import annotations

import argparse
import sys
from typing import NoReturn

EXIT_OK = 0
EXIT_FAILED = 1
EXIT_USAGE = 2
EXIT_INTERRUPTED = 130

EXIT_CODES = """\
exit status:
  0    every input was processed
  1    some inputs failed (each one is named on standard error), or the output was closed
  2    usage error (bad option or value, --plot without matplotlib, a URL or
       --scheduler without veltrane[cluster], a scheduler that cannot be reached)
  130  interrupted (Ctrl-C)
"""


class UsageError(Exception):
    """A bad option or value: one line on standard error, exit status 2."""


class Parser(argparse.ArgumentParser):
    """An argument parser whose errors are usage errors: the usage line, then one message, exit status 2."""

    def error(self, message: str) -> NoReturn:
        self.print_usage(sys.stderr)
        raise UsageError(message)
