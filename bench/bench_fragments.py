"""Time and peak memory of the repeated-fragment search.

Usage: python bench/bench_fragments.py [--sizes 1000 2000 4000 8000] [--times 2] [--count 100]
Each case runs in a fresh child process so that its peak resident memory is its own.
"""
import argparse
import json
import os
import subprocess
import sys
import sysconfig

CHILD = r"""
import json, os, random, resource, sys, time
import _veltrane
kind, n, times, count, glob, text_path = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), sys.argv[5] == "1", sys.argv[6]
if kind == "english":
    text = open(text_path, encoding="utf-8", errors="replace").read()
    data = (text * (n // len(text) + 1))[:n]
elif kind == "random-bytes":
    data = random.Random(1).randbytes(n)
else:
    data = ("abcdefghij" * (n // 10 + 1))[:n]
base = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
start = time.perf_counter()
result = _veltrane.strings_frag.find_non_overlapping_fragments(data, count, times, glob)
elapsed = time.perf_counter() - start
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(json.dumps({"seconds": elapsed, "peak_mib": (peak - base) / 1024, "fragments": len(result)}))
"""


def english_source():
    path = os.path.join(sysconfig.get_paths()["stdlib"], "LICENSE.txt")
    return path if os.path.exists(path) else os.path.join(sysconfig.get_paths()["stdlib"], "os.py")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sizes", type=int, nargs="+", default=[1000, 2000, 4000, 8000])
    parser.add_argument("--times", type=int, default=2)
    parser.add_argument("--count", type=int, default=100)
    parser.add_argument("--timeout", type=float, default=600)
    args = parser.parse_args()
    text_path = english_source()
    print(f"times={args.times} count={args.count}; peak = growth of the child's peak RSS during the call")
    print(f"{'input':<14} {'n':>6} {'mode':<8} {'seconds':>9} {'peak MiB':>9} {'fragments':>9}")
    for kind in ("english", "random-bytes", "periodic"):
        for n in args.sizes:
            for glob in (False, True):
                try:
                    out = subprocess.run(
                        [sys.executable, "-c", CHILD, kind, str(n), str(args.times), str(args.count),
                         "1" if glob else "0", text_path],
                        capture_output=True, text=True, timeout=args.timeout, check=True).stdout
                    r = json.loads(out)
                    print(f"{kind:<14} {n:>6} {'global' if glob else 'plain':<8} {r['seconds']:>9.3f} "
                          f"{r['peak_mib']:>9.1f} {r['fragments']:>9}", flush=True)
                except subprocess.TimeoutExpired:
                    print(f"{kind:<14} {n:>6} {'global' if glob else 'plain':<8} {'timeout':>9}", flush=True)


if __name__ == "__main__":
    main()
