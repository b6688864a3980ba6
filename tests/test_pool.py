"""The worker pool seen from Python: sizing, laziness, thread counts, fork."""
import os
import sys

import pytest

from conftest import UNDER_SANITIZER

# Measures a large input and reports the result and how many threads the process has.
PROBE = """
import os, _veltrane
before = len(os.listdir("/proc/self/task"))
raw = bytes((i * 7919 + (i >> 9)) % 251 for i in range(600_000)) + os.urandom(0)
small = _veltrane.shannon_entropy.measure_entropy(raw[:1000])
after_small = len(os.listdir("/proc/self/task"))
h = _veltrane.shannon_entropy.measure_entropy(raw)
after = len(os.listdir("/proc/self/task"))
print(before, after_small, after - 1, h.hex(), _veltrane.min_entropy.measure_entropy(raw).hex())
"""


def probe(python_child, **env):
    before, after_small, threads, h, h_min = python_child(PROBE, env=env).split()
    return int(before), int(after_small), int(threads), h, h_min


def test_pool_is_created_lazily_and_results_do_not_depend_on_its_size(python_child):
    results = set()
    for threads in ("1", "2", "7"):
        before, after_small, count, h, h_min = probe(python_child, RAYON_NUM_THREADS=threads)
        assert before == 1 and after_small == 1  # nothing started at import or for small inputs
        assert count == int(threads)
        results.add((h, h_min))
    assert len(results) == 1


@pytest.mark.parametrize("env, expected", [
    ({"RAYON_NUM_THREADS": "+3", "RAYON_RS_NUM_CPUS": "5"}, 3),  # the first variable wins
    ({"RAYON_NUM_THREADS": "junk", "RAYON_RS_NUM_CPUS": "5"}, 5),  # not a number: the second one counts
])
def test_environment_sizes_the_pool(python_child, env, expected):
    # How the values are read is unit-tested in C++; this checks that the real pool follows them.
    assert probe(python_child, **env)[2] == expected


def test_forked_child_builds_its_own_pool(python_child):
    out = python_child(
        """
        import os, _veltrane
        raw = bytes(range(256)) * 4096 + b"x" * 1000
        parent = _veltrane.shannon_entropy.measure_entropy(raw)   # the pool is running now
        read, write = os.pipe()
        pid = os.fork()
        if pid == 0:
            os.write(write, _veltrane.shannon_entropy.measure_entropy(raw).hex().encode())
            os._exit(0)
        _, status = os.waitpid(pid, 0)
        child = os.read(read, 100).decode()
        print(os.waitstatus_to_exitcode(status), child == parent.hex())
        """,
        env={"RAYON_NUM_THREADS": "3"},
        timeout=60,
    )
    assert out.split() == ["0", "True"]


@pytest.mark.skipif(UNDER_SANITIZER, reason="the sanitizer runtime reserves more address space than the limit")
def test_pool_that_cannot_start_raises(python_child):
    out = python_child(
        """
        import resource, _veltrane
        resource.setrlimit(resource.RLIMIT_AS, (1 << 31, 1 << 31))
        raw = b"ab" * 200_000
        for attempt in range(2):
            try:
                _veltrane.shannon_entropy.measure_entropy(raw)
                print("computed")
            except (MemoryError, RuntimeError) as error:
                print(type(error).__name__)
        print(_veltrane.shannon_entropy.measure_entropy(b"ab"))
        """,
        env={"RAYON_NUM_THREADS": "65535"},
    )
    lines = out.split()
    assert lines[:2] in (["MemoryError"] * 2, ["RuntimeError"] * 2)
    assert lines[2] == "1.0"


def test_the_call_keeps_the_interpreter_lock(python_child):
    # A pure-Python thread cannot run while a call computes: the longest gap it
    # sees between two of its steps covers nearly the whole call.
    out = python_child(
        """
        import sys, threading, time, os, _veltrane
        sys.setswitchinterval(0.001)
        raw = os.urandom(1 << 27)
        stop = False
        widest = [0.0]
        def spin():
            last = time.perf_counter()
            while not stop:
                now = time.perf_counter()
                widest[0] = max(widest[0], now - last)
                last = now
        t = threading.Thread(target=spin)
        t.start()
        time.sleep(0.05)
        start = time.perf_counter()
        _veltrane.shannon_entropy.measure_entropy(raw)
        elapsed = time.perf_counter() - start
        stop = True
        t.join()
        print(elapsed, widest[0])
        """
    )
    elapsed, widest = map(float, out.split())
    # Allow for the moment the call waits to take the lock back from the thread.
    assert widest >= 0.7 * elapsed
