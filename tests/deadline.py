"""A time limit on work done in this process: the test fails at its deadline instead of hanging the suite.

SIGALRM's handler raises in the main thread wherever it waits (a lock, a
future, a socket) and in the engine's long loops, which poll for signals, so
the command or call under test unwinds through its own clean-up. Limits nest: an
inner one never postpones the outer one's deadline.
"""
import contextlib
import math
import signal
import time


class DeadlinePassed(TimeoutError):
    """The work ran past its time limit."""


@contextlib.contextmanager
def time_limit(seconds, what="the test"):
    def expired(*_):
        raise DeadlinePassed(f"{what} ran past its deadline of {seconds} s")

    outer_left = signal.alarm(0)
    if outer_left and outer_left <= seconds:
        signal.alarm(outer_left)  # the outer deadline comes first: it stays in charge
        yield
        return
    started = time.monotonic()
    previous_handler = signal.signal(signal.SIGALRM, expired)
    signal.alarm(seconds)
    try:
        yield
    finally:
        signal.alarm(0)
        signal.signal(signal.SIGALRM, previous_handler)
        if outer_left:
            signal.alarm(max(1, outer_left - math.floor(time.monotonic() - started)))
