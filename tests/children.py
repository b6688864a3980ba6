"""Child processes that Ctrl-C reaches and that no test waits on for ever.

A job that a non-interactive shell starts in the background (nohup, many CI
runners) inherits SIGINT as ignored, and an interpreter that starts with it
ignored never installs its own handler: such a child shrugs off the SIGINT a
test sends and runs on while the test reads its pipes. `bounded_child` resets
SIGINT to its default action in the child before the program starts, then puts
a deadline on the whole run: past it the child and everything it started are
killed, which ends any read of their pipes, and the test fails saying so.
"""
import contextlib
import os
import signal
import subprocess
import sys
import threading

#: The longest any test waits on one child.
WAIT_SECONDS = 120

# Runs in the child: the default action survives exec, where an ignored signal would stay ignored.
_DEFAULT_SIGINT_THEN_EXEC = (
    "import os, signal, sys; signal.signal(signal.SIGINT, signal.SIG_DFL); os.execv(sys.argv[1], sys.argv[1:])")


class Expired(AssertionError):
    """A child outlived its deadline; it was killed."""


def _kill_group(child):
    with contextlib.suppress(ProcessLookupError, PermissionError):
        os.killpg(child.pid, signal.SIGKILL)


@contextlib.contextmanager
def bounded_child(args, seconds=WAIT_SECONDS, **popen):
    """Yields a Popen of `args` with SIGINT at its default action, killed (with its own children) after `seconds`.

    The child leads a process group of its own, so that the deadline reaches the
    workers it starts too; its standard input is /dev/null unless given.
    """
    argv = [sys.executable, "-c", _DEFAULT_SIGINT_THEN_EXEC, *map(str, args)]
    popen.setdefault("stdin", subprocess.DEVNULL)
    child = subprocess.Popen(argv, process_group=0, **popen)
    expired = threading.Event()

    def expire():
        expired.set()
        _kill_group(child)

    timer = threading.Timer(seconds, expire)
    timer.daemon = True
    timer.start()
    try:
        yield child
    finally:
        timer.cancel()
        _kill_group(child)  # whatever is left once the test is done with it
        child.wait(timeout=seconds)
        for stream in (child.stdin, child.stdout, child.stderr):
            if stream is not None:
                stream.close()
        if expired.is_set():
            raise Expired(f"still running after {seconds} s, killed: {' '.join(map(str, args))}")
