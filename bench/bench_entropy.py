"""Throughput of the entropy measures, against a plain read pass and the numpy route.

Usage: python bench/bench_entropy.py [--mib 256] [--repeat 5]
Prints the throughput of each and the ratios that matter, measured in one run.
"""
import argparse
import math
import os
import time
import timeit

import numpy as np

from _veltrane import min_entropy, shannon_entropy


def best_of(repeat, fn):
    best = math.inf
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def numpy_entropy(data):
    counts = np.bincount(np.frombuffer(data, dtype=np.uint8), minlength=256)
    p = counts[counts > 0] / len(data)
    return float(-(p * np.log2(p)).sum())


def report(label, size, seconds, reference=None):
    rate = size / seconds / 2**30
    extra = f"   {rate / reference:6.2f} x read pass" if reference else ""
    print(f"  {label:<44} {rate:8.2f} GiB/s{extra}")
    return rate


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mib", type=int, default=256)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    size = args.mib << 20

    for name, data in (("random bytes", os.urandom(size)), ("one repeated byte", b"\x5a" * size)):
        print(f"{name}, {args.mib} MiB:")
        read = report("read pass: data.count(b'\\0')", size, best_of(args.repeat, lambda: data.count(b"\0")))
        ours = report("shannon_entropy.measure_entropy", size,
                      best_of(args.repeat, lambda: shannon_entropy.measure_entropy(data)), read)
        report("min_entropy.measure_entropy", size, best_of(args.repeat, lambda: min_entropy.measure_entropy(data)),
               read)
        vector = np.frombuffer(data, dtype=np.uint8).copy()
        report("measure_entropy(numpy uint8 vector)", size,
               best_of(args.repeat, lambda: shannon_entropy.measure_entropy(vector)), read)
        view = memoryview(data)
        report("measure_entropy(memoryview)", size,
               best_of(args.repeat, lambda: shannon_entropy.measure_entropy(view)), read)
        route = report("numpy route (bincount + formula)", size, best_of(args.repeat, lambda: numpy_entropy(data)),
                       read)
        print(f"  ratio to numpy route: {ours / route:.1f} x; to read pass: {ours / read:.2f}")

    small = os.urandom(16)
    number = 200_000
    base = min(timeit.repeat(lambda: len(small), number=number, repeat=5)) / number
    call = min(timeit.repeat(lambda: shannon_entropy.measure_entropy(small), number=number, repeat=5)) / number
    print(f"call overhead, 16-byte bytes: measure_entropy {call * 1e9:.0f} ns, len() {base * 1e9:.0f} ns, "
          f"difference {(call - base) * 1e9:.0f} ns")


if __name__ == "__main__":
    main()
