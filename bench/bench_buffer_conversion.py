"""Converting a numpy uint8 vector: the buffer path against item-by-item reading.

Usage: python bench/bench_buffer_conversion.py [--mib 16]
An ndarray subclass does not qualify for the buffer path (it may override
iteration), so it measures the item-by-item conversion of the same data.
"""
import argparse
import time

import numpy as np

from _veltrane import shannon_entropy


class Vector(np.ndarray):
    pass


def timed(fn):
    start = time.perf_counter()
    result = fn()
    return time.perf_counter() - start, result


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mib", type=int, default=16)
    args = parser.parse_args()
    vector = np.random.default_rng(1).integers(0, 256, args.mib << 20, dtype=np.uint8)
    fast = min(timed(lambda: shannon_entropy.measure_entropy(vector))[0] for _ in range(5))
    slow, slow_result = timed(lambda: shannon_entropy.measure_entropy(vector.view(Vector)))
    assert slow_result == shannon_entropy.measure_entropy(vector)
    print(f"{args.mib} MiB numpy uint8: buffer path {fast * 1e3:.2f} ms, item by item {slow * 1e3:.0f} ms, "
          f"{slow / fast:.0f} x faster")


if __name__ == "__main__":
    main()
