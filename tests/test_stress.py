"""Leaks, concurrent use, memory exhaustion and extreme arguments, in short form.

The long forms (100,000 calls per case, a minute of eight threads) are in
bench/stress.py.
"""
import os
import random
import threading

import pytest

import _veltrane
import stress_cases
from conftest import PROJECT_VERSION, UNDER_SANITIZER
from fragment_model import search as model_search

FIND = _veltrane.strings_frag.find_non_overlapping_fragments
MEASURES = list(stress_cases.MEASURES.values())
U64_MAX = 2**64 - 1
CASES = stress_cases.cases()


# ---------------------------------------------------------------- leaks


@pytest.mark.parametrize("name, call, expected", CASES, ids=[c[0] for c in CASES])
def test_repeated_calls_keep_nothing(name, call, expected):
    # The sanitizer's allocator keeps freed memory in quarantine: resident size
    # says nothing there, and its calls are slower.
    calls = 500 if UNDER_SANITIZER else 3000
    assert stress_cases.leaks(call, expected, calls, check_rss=not UNDER_SANITIZER) == {}


# ---------------------------------------------------------------- threads


STRESS_THREADS = """
import sys
sys.path.insert(0, {tests!r})
import stress_cases
counts, errors, hung, extra = stress_cases.thread_pass({seconds})
print(hung, len(errors), min(counts), extra, errors[:3])
"""


def test_eight_threads_at_once(python_child):
    # Every result right, no deadlock, and one pool: no thread is left over once
    # the callers are done, so none was started for a second pool.
    seconds = 3 if UNDER_SANITIZER else 5
    out = python_child(STRESS_THREADS.format(tests=os.path.dirname(__file__), seconds=seconds),
                       env={"RAYON_NUM_THREADS": "3"}, timeout=seconds + 200)
    hung, errors, fewest, new_threads, sample = out.split(maxsplit=4)
    assert (hung, errors, new_threads) == ("0", "0", "0"), sample
    assert int(fewest) > 10


# ---------------------------------------------------------------- memory exhaustion


MEMORY_ERROR = """
import functools, resource, _veltrane
S = _veltrane.shannon_entropy
FIND = _veltrane.strings_frag.find_non_overlapping_fragments
functions = {
    "measure_entropy": S.measure_entropy, "measure_metric_entropy": S.measure_metric_entropy,
    "measure_normalized_metric_entropy": S.measure_normalized_metric_entropy,
    "min_entropy": _veltrane.min_entropy.measure_entropy,
    "find": lambda data: FIND(data, 3, 2, False),
}
small = b"abcab" * 60
expected = {name: f(small) for name, f in functions.items()}
S.measure_entropy(b"abcab" * 100_000)   # the pool starts here
big = bytearray(600 << 20)     # a copy of it cannot fit under the limit
# Every slot the small functions fill exists before the limit: after it, only the
# calls under test allocate, so the MemoryError caught below is theirs.
slots = [None] * (12 << 20)
small_functions = [
    # 2**62 + 1 doubles to a fresh int each time (a small result would be the interpreter's cached one).
    ("ping", functools.partial(_veltrane.ping, 2**62 + 1), 2**63 + 2),
    ("version", _veltrane.version, VERSION),
    ("profile", _veltrane.profile, "release"),
]
with open("/proc/self/statm") as f:
    in_use = int(f.read().split()[0]) * resource.getpagesize()
resource.setrlimit(resource.RLIMIT_AS, (in_use + (256 << 20), resource.RLIM_INFINITY))
for name, f in functions.items():
    try:
        f(big)
        print(name, "returned")
    except MemoryError:
        print(name, "MemoryError", f(small) == expected[name])
# The small functions: fill memory with their results until a call runs out.
for name, call, value in small_functions:
    filled = 0
    while True:
        try:
            result = call()
        except MemoryError:
            break
        slots[filled] = result   # an IndexError here would mean memory never ran out
        filled += 1
    for i in range(filled):   # frees as it goes: nothing new must be allocated before
        slots[i] = None
    print(name, "MemoryError", filled > 1000 and call() == value)
"""


@pytest.mark.skipif(UNDER_SANITIZER, reason="the sanitizer runtime reserves more address space than the limit")
def test_memory_error_for_every_function(python_child):
    lines = python_child(MEMORY_ERROR.replace("VERSION", repr(PROJECT_VERSION)), env={"RAYON_NUM_THREADS": "2"},
                         timeout=300).splitlines()
    assert lines == [f"{name} MemoryError True" for name in
                     ("measure_entropy", "measure_metric_entropy", "measure_normalized_metric_entropy",
                      "min_entropy", "find", "ping", "version", "profile")]


# ---------------------------------------------------------------- limits


EXTREME = [0, 1, 2, 3, 2**32 - 1, 2**32, 2**32 + 1, 2**63 - 1, 2**63, 2**63 + 1, U64_MAX - 1, U64_MAX]


@pytest.mark.parametrize("count", EXTREME)
@pytest.mark.parametrize("times", EXTREME)
def test_extreme_count_and_times(count, times):
    # Sizes times counts must not wrap in any intermediate: the model has no limits.
    rng = random.Random(count ^ times)
    data = "".join(rng.choice("ab") for _ in range(12))
    for glob in (False, True):
        assert FIND(data, count, times, glob) == model_search(list(data), count, times, glob)
        assert FIND(data.encode(), count, times, glob) == model_search(list(data.encode()), count, times, glob)


@pytest.mark.parametrize("empty", [b"", "", [], (), bytearray(), memoryview(b""), range(0)])
def test_empty_inputs_everywhere(empty):
    for measure in MEASURES:
        assert measure(empty).hex() == (0.0).hex()
    for count in (0, 1, U64_MAX):
        for times in (0, 1, U64_MAX):
            assert FIND(empty, count, times, False) == [] and FIND(empty, count, times, True) == []


@pytest.mark.parametrize("one", [b"\x00", b"\xff", "x", "\U0001f600", [7], (255,), bytearray(b"q"), range(1)])
def test_one_element_inputs_everywhere(one):
    raw = one.encode() if isinstance(one, str) else bytes(one)
    for measure in MEASURES:
        # A single value has no uncertainty (an emoji's four UTF-8 bytes do).
        assert measure(one).hex() == measure(raw).hex()
        if len(raw) == 1:
            assert measure(one) == 0.0
    whole = [{"id": 0, "occurrences": [{"start": 0, "end": 1}]}]
    for glob in (False, True):
        for count in (1, 2**63, U64_MAX):
            assert FIND(one, count, 1, glob) == whole
            assert FIND(one, count, 2, glob) == FIND(one, count, U64_MAX, glob) == []
        assert FIND(one, 0, 1, glob) == []
