"""The tests' own children and time limits: SIGINT reaches a child whatever this process inherited, no wait outlasts its bound."""
import signal
import subprocess
import sys
import time

import pytest

from children import Expired, bounded_child
from deadline import DeadlinePassed, time_limit

SLEEPER = [sys.executable, "-c", "import time; print('ready', flush=True); time.sleep(60)"]


@pytest.fixture
def sigint_ignored():
    """This process as a background job of a non-interactive shell starts: SIGINT ignored."""
    previous = signal.signal(signal.SIGINT, signal.SIG_IGN)
    yield
    signal.signal(signal.SIGINT, previous)


def test_sigint_reaches_a_child_of_a_process_that_ignores_it(sigint_ignored):
    with bounded_child(SLEEPER, seconds=30, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True) as child:
        assert child.stdout.readline() == "ready\n"
        child.send_signal(signal.SIGINT)
        _, err = child.communicate(timeout=30)
    # Python's own handler, installed because the signal was at its default: a KeyboardInterrupt, which
    # the interpreter ends on by taking the signal's default action.
    assert child.returncode == -signal.SIGINT and "KeyboardInterrupt" in err


def test_a_child_past_its_deadline_is_killed_and_fails_the_test():
    started = time.monotonic()
    with pytest.raises(Expired, match="still running after 1 s"):
        with bounded_child(SLEEPER, seconds=1, stdout=subprocess.PIPE) as child:
            assert child.stdout.readline() == b"ready\n"
            assert child.stdout.read() == b""  # returns only once the deadline kills the child
    assert child.returncode == -signal.SIGKILL
    assert time.monotonic() - started < 20


def test_a_time_limit_interrupts_a_wait_and_never_postpones_an_outer_one():
    started = time.monotonic()
    with pytest.raises(DeadlinePassed, match="the outer wait"):
        with time_limit(2, "the outer wait"):
            with time_limit(1, "the inner wait"):
                pass  # done in time: the outer deadline stays
            with time_limit(60, "a longer inner wait"):
                time.sleep(30)
    assert time.monotonic() - started < 10
