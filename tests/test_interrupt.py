"""Ctrl-C during a long call: KeyboardInterrupt arrives promptly, the next calls are right.

Each case runs in a child process that the test interrupts from outside with
SIGINT, as a terminal does: the call holds the interpreter lock throughout, so no
thread of the child itself could send the signal in time.
"""
import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

import _veltrane
from children import bounded_child
from conftest import UNDER_SANITIZER

# Far beyond any latency the polling allows (about 50 ms), far below the length
# of the calls being interrupted (a minute or more).
GENEROUS_SECONDS = 5.0
# The whole child, setup and both interrupted calls: an interrupt that never lands fails the test here.
CHILD_SECONDS = 300

# Sets up `long_call()`, which must take far longer than the interrupt latency:
# indexing 32 MiB of random bytes takes about 15 s (and 1 GiB) on a 2-core machine,
# most of it in the suffix sorting on the calling thread.
LONG_SEARCH = """
import random
data = random.Random(1).randbytes(32 << 20)
def long_call():
    return _veltrane.strings_frag.find_non_overlapping_fragments(data, 1, 2, False)
"""

# Several GiB of zeros are read from the shared zero page: no memory is used,
# yet each count takes a second or more on one worker thread.
LONG_COUNT = """
import numpy
zeros = numpy.zeros(4 << 30, dtype=numpy.uint8)
def long_call():
    return _veltrane.shannon_entropy.measure_entropy(zeros)
"""

# The engine computes without the interpreter lock; its hook takes the lock back
# to let the handler run.
LONG_ENGINE_PASS = """
import numpy, veltrane
zeros = numpy.zeros(4 << 30, dtype=numpy.uint8)
def long_call():
    return veltrane.measure(zeros)
"""

# The SP 800-90B estimators on 16 million samples take tens of seconds on one
# worker; each of them stops at its own checkpoints.
LONG_ASSESSMENT = """
import random, veltrane
samples = random.Random(2).randbytes(16 << 20)
def long_call():
    return veltrane.sp800_90b(samples)
"""

# The IID track on a random walk: every statistic fails, so all 10,000 rounds
# run, each compressing the samples' text; minutes on one worker.
LONG_IID = """
import random, veltrane
rng = random.Random(4)
walk, x = bytearray(200_000), 128
for i in range(len(walk)):
    x = min(255, max(0, x + rng.choice((-2, -1, 1, 2))))
    walk[i] = x
def long_call():
    return veltrane.sp800_90b_iid(bytes(walk), seed=bytes(range(1, 33)))
"""

# Binary samples: the tuple sort begun by one worker and its pieces taken by
# both, beside the predictors; bits in long runs have their suffix order
# induced from the run starts' first.
LONG_BIT_ASSESSMENT = """
import random, veltrane
samples = bytes(b & 1 for b in random.Random(4).randbytes(24 << 20))
def long_call():
    return veltrane.sp800_90b(samples)
"""
LONG_RUN_ASSESSMENT = """
import random, veltrane
rng = random.Random(5)
samples = bytes(bit for bit, length in zip([0, 1] * (1 << 20), (rng.randrange(1, 20) for _ in range(1 << 21)))
                for _ in range(length))
def long_call():
    return veltrane.sp800_90b(samples)
"""

# A list of fifty million items is converted item by item on the calling thread.
LONG_CONVERSION = """
items = [1] * 50_000_000
def long_call():
    return _veltrane.min_entropy.measure_entropy(items)
"""

CHILD = """
import hashlib, os, random, sys, time, _veltrane
{setup}

def fingerprint():
    # A search and a count large enough to use the pool, and a small search.
    rng = random.Random(3)
    text = "".join(rng.choice("ab") for _ in range(1500))
    out = [_veltrane.strings_frag.find_non_overlapping_fragments(text, 40, 2, glob) for glob in (False, True)]
    out.append(_veltrane.shannon_entropy.measure_entropy(text.encode() * 400).hex())
    out.append(_veltrane.strings_frag.find_non_overlapping_fragments("abcabc", 5, 2, True))
    return hashlib.sha256(repr(out).encode()).hexdigest()

before = fingerprint()
threads = len(os.listdir("/proc/self/task"))
for round in range(2):
    print("calling", flush=True)
    start = time.monotonic()
    try:
        long_call()
        print("returned", time.monotonic() - start, flush=True)
    except KeyboardInterrupt:
        print("interrupted", time.monotonic(), time.monotonic() - start, flush=True)
    print("same", fingerprint() == before, len(os.listdir("/proc/self/task")) == threads, flush=True)
"""


def interrupt_twice(setup, delay, env=None):
    """Interrupts the child's long call `delay` seconds into it, twice; returns the latencies."""
    full_env = dict(os.environ, PYTHONPATH=os.path.dirname(_veltrane.__file__) + os.pathsep
                    + os.environ.get("PYTHONPATH", ""), **(env or {}))
    latencies = []
    with bounded_child([sys.executable, "-c", CHILD.format(setup=textwrap.dedent(setup))], seconds=CHILD_SECONDS,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=full_env) as child:
        for _ in range(2):
            line = child.stdout.readline()
            assert line == "calling\n", line + child.stderr.read()
            time.sleep(delay)
            sent = time.monotonic()
            child.send_signal(signal.SIGINT)
            words = child.stdout.readline().split()
            assert words and words[0] == "interrupted", words
            # Both processes read the same monotonic clock.
            latencies.append(float(words[1]) - sent)
            assert child.stdout.readline().split() == ["same", "True", "True"]
        assert child.wait(timeout=60) == 0, child.stderr.read()
    print(f"interrupt latencies: {', '.join(f'{x * 1000:.0f} ms' for x in latencies)}")
    assert all(0 <= x < GENEROUS_SECONDS for x in latencies), latencies
    return latencies


def test_ctrl_c_stops_a_long_search():
    interrupt_twice(LONG_SEARCH, delay=0.5)


def test_ctrl_c_stops_a_long_count():
    # One worker, so the count takes several times the latency allowed.
    interrupt_twice(LONG_COUNT, delay=0.5, env={"RAYON_NUM_THREADS": "1"})


def test_ctrl_c_stops_a_long_engine_pass():
    interrupt_twice(LONG_ENGINE_PASS, delay=0.5, env={"RAYON_NUM_THREADS": "1"})


def test_ctrl_c_stops_a_long_assessment():
    interrupt_twice(LONG_ASSESSMENT, delay=0.5, env={"RAYON_NUM_THREADS": "1"})


def test_ctrl_c_stops_a_long_iid_track():
    interrupt_twice(LONG_IID, delay=0.5, env={"RAYON_NUM_THREADS": "1"})


@pytest.mark.parametrize("setup, delay", [(LONG_BIT_ASSESSMENT, 0.3), (LONG_BIT_ASSESSMENT, 0.05),
                                          (LONG_RUN_ASSESSMENT, 0.3)])
def test_ctrl_c_stops_a_long_assessment_of_bits(setup, delay):
    # Both workers: the one that begins the sort and the one that waits for it.
    interrupt_twice(setup, delay=delay, env={"RAYON_NUM_THREADS": "2"})


@pytest.mark.skipif(UNDER_SANITIZER, reason="the sanitizer slows the list build; the search case covers it")
def test_ctrl_c_stops_a_long_conversion():
    interrupt_twice(LONG_CONVERSION, delay=0.2)


def test_a_handler_that_does_not_raise_lets_the_call_finish(python_child):
    # The handler runs during the call, may itself use the module (its pool work
    # runs inline rather than waiting behind the call's own job), and the call
    # then completes with its normal result.
    out = python_child(
        """
        import os, signal, time, numpy, _veltrane
        zeros = numpy.zeros(4 << 30, dtype=numpy.uint8)
        small = numpy.arange(1 << 20, dtype=numpy.uint8)
        expected = _veltrane.shannon_entropy.measure_entropy(small)
        seen = []
        def handler(*_):
            seen.append((time.monotonic(), _veltrane.shannon_entropy.measure_entropy(small) == expected))
        signal.signal(signal.SIGUSR1, handler)
        pid = os.fork()
        if pid == 0:
            time.sleep(0.3)
            os.kill(os.getppid(), signal.SIGUSR1)
            os._exit(0)
        h = _veltrane.shannon_entropy.measure_entropy(zeros)
        end = time.monotonic()
        os.waitpid(pid, 0)
        print(h, len(seen), seen[0][0] < end, seen[0][1], _veltrane.shannon_entropy.measure_entropy(small) == expected)
        """,
        env={"RAYON_NUM_THREADS": "1"},
    )
    assert out.split() == ["-0.0", "1", "True", "True", "True"]
