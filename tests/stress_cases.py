"""Calls of every function, with valid arguments and with each kind of failing one.

Shared by tests/test_stress.py (short runs) and bench/stress.py (long runs); it
needs nothing beyond the standard library, so it also runs on a debug
interpreter that has no numpy.
"""
import array
import gc
import os
import sys
import threading
import time
import tracemalloc

import _veltrane
import veltrane
from conversion_model import Index

S = _veltrane.shannon_entropy
FIND = _veltrane.strings_frag.find_non_overlapping_fragments
MEASURES = {"measure_entropy": S.measure_entropy, "measure_metric_entropy": S.measure_metric_entropy,
            "measure_normalized_metric_entropy": S.measure_normalized_metric_entropy,
            "min_entropy": _veltrane.min_entropy.measure_entropy}

# A few hundred KiB: the pool's path. Smaller inputs take the sequential one.
LARGE = bytes((i * 7919 + (i >> 9)) % 251 for i in range(300_000))
TEXT = "abcab\u00e9\U0001f600" * 4


class BadSequence:
    def __len__(self):
        return 3

    def __getitem__(self, i):
        raise RuntimeError("unreadable")


def _data_forms():
    return {
        "bytes": b"hello world", "large": LARGE, "text": TEXT, "list": list(b"abcabc"),
        "bytearray": bytearray(b"abcabc"), "memoryview": memoryview(LARGE), "array": array.array("B", b"xyzxyz"),
        "empty": b"", "one": [7],
    }


BAD_DATA = {"none": None, "int": 5, "float-items": [1.5], "big-item": [256], "surrogate": "\ud800",
            "raising-sequence": BadSequence(), "raising-index": [Index(KeyError)], "set": {1, 2}}
BAD_U64 = {"negative": -1, "huge": 2**64, "float": 1.5, "str": "1", "raising-index": Index(ValueError)}
BAD_BOOL = {"int": 1, "none": None}


def cases():
    """[(name, call, expected)]: expected is the result, or the exception type raised."""
    out = []
    for fname, measure in MEASURES.items():
        for dname, data in _data_forms().items():
            out.append((f"{fname}/{dname}", (lambda m, d: lambda: m(d))(measure, data), measure(bytes(data)
                       if not isinstance(data, str) else data.encode())))
        for dname, data in BAD_DATA.items():
            out.append((f"{fname}/bad-{dname}", (lambda m, d: lambda: m(d))(measure, data), TypeError))
        out.append((f"{fname}/no-arguments", measure, TypeError))
    for dname, data in _data_forms().items():
        clean = data if isinstance(data, str) else bytes(data)
        if dname in ("large", "memoryview"):
            data, clean = data[:60], clean[:60]  # the search is quadratic: keep each call short
        for glob in (False, True):
            args = (data, 2**64 - 1, 2, glob)
            out.append((f"find/{dname}/{glob}", (lambda a: lambda: FIND(*a))(args), FIND(clean, *args[1:])))
    for dname, data in BAD_DATA.items():
        out.append((f"find/bad-data-{dname}", (lambda d: lambda: FIND(d, 3, 2, False))(data), TypeError))
    for uname, value in BAD_U64.items():
        kind = OverflowError if uname in ("negative", "huge") else TypeError
        kind = ValueError if uname == "raising-index" else kind
        out.append((f"find/bad-count-{uname}", (lambda v: lambda: FIND(b"abab", v, 2, False))(value), kind))
        out.append((f"find/bad-times-{uname}", (lambda v: lambda: FIND(b"abab", 2, v, True))(value), kind))
        out.append((f"ping/bad-{uname}", (lambda v: lambda: _veltrane.ping(v))(value), kind))
    for bname, value in BAD_BOOL.items():
        out.append((f"find/bad-flag-{bname}", (lambda v: lambda: FIND(b"abab", 2, 2, v))(value), TypeError))
    out.append(("find/unexpected-keyword", lambda: FIND(b"ab", 1, 1, False, other=1), TypeError))
    out.append(("ping/ok", lambda: _veltrane.ping(2**63 + 5), 10))
    out.append(("ping/keyword", lambda: _veltrane.ping(x=21), 42))
    out.append(("version", _veltrane.version, _veltrane.version()))
    out.append(("profile", _veltrane.profile, _veltrane.profile()))
    out.append(("version/argument", lambda: _veltrane.version(1), TypeError))
    out.extend(_engine_cases())
    return out


def _engine_cases():
    """The package's engine: it reads buffers in place and computes without the interpreter lock."""
    out = []
    forms = {"bytes": b"hello world", "large": LARGE, "text": TEXT, "bytearray": bytearray(b"abcabc"),
             "memoryview": memoryview(LARGE), "array-H": array.array("H", b"xyzxyz"), "empty": b""}
    for name, data in forms.items():
        raw = data.encode() if isinstance(data, str) else memoryview(data).tobytes()
        for bits in (False, True):
            out.append((f"measure/{name}/{bits}", (lambda d, b: lambda: veltrane.measure(d, bits=b))(data, bits),
                        veltrane.measure(raw, bits=bits)))
    for name, data in {"list": [1, 2], "none": None, "int": 5}.items():
        out.append((f"measure/bad-{name}", (lambda d: lambda: veltrane.measure(d))(data), TypeError))
    out.append(("measure/surrogate", lambda: veltrane.measure("\ud800"), UnicodeEncodeError))
    cut = 100_001
    whole = veltrane.measure(LARGE)
    out.append(("state/merge-finish", lambda: (veltrane.measure_state(LARGE[:cut])
                                                + veltrane.measure_state(LARGE[cut:], start=cut)).finish(), whole))
    out.append(("state/gap", lambda: veltrane.measure_state(b"ab") + veltrane.measure_state(b"c", start=3),
                ValueError))
    out.append(("state/damaged", lambda: veltrane.MeasureState(b"VLTB junk").finish(), ValueError))
    out.append(("profile/windows", lambda: veltrane.entropy_profile(LARGE, 4096, 1000),
                veltrane.entropy_profile(LARGE, 4096, 1000)))
    out.append(("profile/bad-window", lambda: veltrane.entropy_profile(LARGE, 0), ValueError))
    return out


def run_case(call, expected):
    """One call; raises AssertionError when the outcome is not the expected one."""
    if isinstance(expected, type):
        try:
            call()
        except expected:
            return
        raise AssertionError(f"expected {expected.__name__}")
    got = call()
    if got != expected and not (isinstance(got, float) and got.hex() == expected.hex()):
        raise AssertionError(f"{got!r} != {expected!r}")


def _mallinfo():
    try:
        import ctypes

        class MallInfo2(ctypes.Structure):
            _fields_ = [(name, ctypes.c_size_t) for name in
                        ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
                         "fordblks", "keepcost")]
        libc = ctypes.CDLL(None)
        libc.mallinfo2.restype = MallInfo2
        return libc.mallinfo2
    except (OSError, AttributeError, ImportError):
        return None


_MALLINFO = _mallinfo()


def _malloc_in_use():
    """Bytes the C allocator has handed out and not taken back (glibc), or None."""
    if _MALLINFO is None:
        return None
    info = _MALLINFO()
    return info.uordblks + info.hblkhd


def _rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def _measure():
    gc.collect()
    total_refs = sys.gettotalrefcount() if hasattr(sys, "gettotalrefcount") else None
    return {"refs": total_refs, "traced": tracemalloc.get_traced_memory()[0], "malloc": _malloc_in_use(),
            "rss": _rss()}


def growth(call, expected, calls):
    """Runs the call `calls` times after a warm-up; returns how much each figure grew."""
    # Tracing starts before the warm-up: a cache that keeps the last few thousand
    # objects (and drops older ones) then looks the same before and after.
    started = not tracemalloc.is_tracing()
    if started:
        tracemalloc.start()
    try:
        for _ in range(max(2000, calls // 10)):
            run_case(call, expected)
        _measure()  # the first measurement allocates for itself
        before = _measure()
        for _ in range(calls):
            run_case(call, expected)
        after = _measure()
    finally:
        if started:
            tracemalloc.stop()
    return {k: (after[k] - before[k] if before[k] is not None else None) for k in before}


def leak_verdict(grown, calls, check_rss=True):
    """The figures that grew past noise, for `calls` calls; empty when none did."""
    bad = {}
    # A reference or a small block kept per call would show as `calls` of them;
    # warm-up effects show once, so callers confirm a verdict with a second round.
    # The floors hold what a round costs whatever it calls: the measurement's
    # own objects alone are about ten references, and a round has been seen to
    # keep up to about 120 more once (freelists and caches filling).
    if grown["refs"] is not None and grown["refs"] > max(250, calls // 10):
        bad["refs"] = grown["refs"]
    if grown["traced"] > max(32 * 1024, calls * 8):
        bad["traced"] = grown["traced"]
    if grown["malloc"] is not None and grown["malloc"] > max(256 * 1024, calls * 8):
        bad["malloc"] = grown["malloc"]
    if check_rss and grown["rss"] > max(8 << 20, calls * 64):
        bad["rss"] = grown["rss"]
    return bad


def leaks(call, expected, calls, check_rss=True):
    """What grew past noise in two rounds running; empty when nothing leaks."""
    first = leak_verdict(growth(call, expected, calls), calls, check_rss)
    if not first:
        return {}
    second = leak_verdict(growth(call, expected, calls), calls, check_rss)
    return {k: (first[k], second[k]) for k in first.keys() & second.keys()}


def thread_pass(seconds, threads=8):
    """`threads` threads call every case at once for `seconds`, each checking its results.

    Returns the calls each thread made, the wrong outcomes (name, exception), the
    threads still running afterwards, and how many threads the process gained
    during the pass (a second pool would show here; the first one starts while
    the expected results are computed, before the pass).
    """
    all_cases = cases()
    before = len(os.listdir("/proc/self/task"))
    errors, counts = [], [0] * threads
    stop = time.monotonic() + seconds

    def worker(k):
        i = k
        while time.monotonic() < stop:
            name, call, expected = all_cases[i % len(all_cases)]
            try:
                run_case(call, expected)
            except Exception as exc:  # noqa: BLE001 - every wrong outcome is reported
                errors.append((name, repr(exc)))
            counts[k] += 1
            i += 7

    callers = [threading.Thread(target=worker, args=(k,)) for k in range(threads)]
    for t in callers:
        t.start()
    for t in callers:
        t.join(timeout=seconds + 300)
    hung = sum(t.is_alive() for t in callers)
    for _ in range(100):  # a joined thread can take a moment to leave the task list
        if len(os.listdir("/proc/self/task")) <= before:
            break
        time.sleep(0.05)
    return counts, errors, hung, len(os.listdir("/proc/self/task")) - before

