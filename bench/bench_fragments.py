"""Time and peak memory of the repeated-fragment search on the inputs users bring.

Usage:
    python bench/bench_fragments.py                 # the standard cases (table below)
    python bench/bench_fragments.py --scaling       # time against result size, every candidate returned
    python bench/bench_fragments.py --module-path DIR --timeout 600   # another build of _veltrane
    python bench/bench_fragments.py --case 3 4                        # some rows only

Each case runs in a fresh child process, so its peak memory is its own: the
growth of the child's peak resident set during the call, after the input was
built, minus what the returned list occupies (shown beside it). Times include argument conversion and
building the Python result.
"""
import argparse
import json
import os
import subprocess
import sys
import sysconfig

CHILD = r"""
import json, os, random, resource, sys, time
sys.path.insert(0, sys.argv[1]) if sys.argv[1] else None
import _veltrane
case = json.loads(sys.argv[2])
exec(case["make"], globals())  # defines `data`
base = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
start = time.perf_counter()
result = _veltrane.strings_frag.find_non_overlapping_fragments(data, case["count"], case["times"], case["global"])
elapsed = time.perf_counter() - start
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
intervals = sum(len(f["occurrences"]) for f in result)
# What the returned list itself occupies (ints below 257 are shared, not counted).
answer = sys.getsizeof(result)
for f in result:
    answer += sys.getsizeof(f) + sys.getsizeof(f["occurrences"]) + sys.getsizeof(f["id"]) * (f["id"] > 256)
    for iv in f["occurrences"]:
        answer += sys.getsizeof(iv) + sum(sys.getsizeof(v) for v in iv.values() if v > 256)
print(json.dumps({"seconds": elapsed, "peak_mib": (peak - base) / 1024, "answer_mib": answer / 2**20,
                  "fragments": len(result), "intervals": intervals}))
"""

MIB = 1 << 20


def source_text_maker(size):
    # Python's own library: English prose in docstrings and comments, plus code.
    # Distinct files concatenated in a fixed order, not one file repeated.
    stdlib = sysconfig.get_paths()["stdlib"]
    return f"""
import os
parts, total = [], 0
for root, dirs, files in sorted(os.walk({stdlib!r})):
    dirs.sort()
    if "test" in root.split(os.sep) or "site-packages" in root:
        continue
    for name in sorted(files):
        if name.endswith(".py"):
            with open(os.path.join(root, name), encoding="utf-8", errors="replace") as f:
                parts.append(f.read())
            total += len(parts[-1])
    if total >= {size}:
        break
data = "".join(parts)[:{size}]
"""


CASES = [
    ("1 MiB random bytes", f"data = random.Random(1).randbytes({MIB})", 2),
    ("1 MiB Python-library source as str", source_text_maker(MIB), 2),
    ('"a" * 1,000,000 as str', 'data = "a" * 1_000_000', 2),
    ("100,000 random letters, a 10,000-letter block 3 times",
     "r = random.Random(2)\n"
     "letters = [chr(97 + r.randrange(26)) for _ in range(100_000)]\n"
     "block = [chr(97 + r.randrange(26)) for _ in range(10_000)]\n"
     "for at in (5_000, 40_000, 75_000):\n"
     "    letters[at:at + 10_000] = block\n"
     "data = ''.join(letters)", 2),
    ("100,000 random bytes, times = 1", "data = random.Random(3).randbytes(100_000)", 1),
]


def run_case(module_path, make, count, times, glob, timeout):
    case = json.dumps({"make": make, "count": count, "times": times, "global": glob})
    try:
        out = subprocess.run([sys.executable, "-c", CHILD, module_path or "", case], capture_output=True, text=True,
                             timeout=timeout)
    except subprocess.TimeoutExpired:
        return None
    if out.returncode != 0:
        return {"error": out.stderr.strip().splitlines()[-1] if out.stderr.strip() else f"exit {out.returncode}"}
    return json.loads(out.stdout)


def standard(args):
    print(f"count={args.count}; seconds / peak MiB besides the answer + MiB of the returned list itself")
    print(f"{'input':<55} {'times':>5} {'plain':>22} {'global non-overlap':>22}")
    for index, (name, make, times) in enumerate(CASES):
        if args.case is not None and index not in args.case:
            continue
        cells = []
        for glob in (False, True):
            r = run_case(args.module_path, make, args.count, times, glob, args.timeout)
            if r is None:
                cells.append(f"> {args.timeout:.0f} s")
            elif "error" in r:
                cells.append(r["error"][:18])
            else:
                cells.append(f"{r['seconds']:.3f} / {r['peak_mib'] - r['answer_mib']:.0f} + {r['answer_mib']:.0f}")
        print(f"{name:<55} {times:>5} {cells[0]:>22} {cells[1]:>22}", flush=True)


def scaling(args):
    # Every candidate returned: the work should follow the size of the answer.
    print("every candidate returned (count = 2**64 - 1), times = 2, plain mode")
    print(f"{'input':<40} {'fragments':>10} {'intervals':>10} {'seconds':>8} {'ns per interval':>16}")
    families = []
    for n in (5_000, 10_000, 20_000, 40_000, 80_000):
        families.append((f"random letters, n = {n}",
                         f"r = random.Random(4)\ndata = ''.join(chr(97 + r.randrange(26)) for _ in range({n}))"))
    for n in (1_000, 2_000, 4_000, 8_000):
        families.append((f"random block twice, n = {n}",
                         f"r = random.Random(5)\nb = r.randbytes({n} // 2)\ndata = b + b"))
    for name, make in families:
        r = run_case(args.module_path, make, 2**64 - 1, 2, False, args.timeout)
        if r is None or "error" in r:
            print(f"{name:<40} {'failed' if r else 'timeout':>10}")
            continue
        per = r["seconds"] / max(1, r["intervals"]) * 1e9
        print(f"{name:<40} {r['fragments']:>10} {r['intervals']:>10} {r['seconds']:>8.3f} {per:>16.1f}", flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--count", type=int, default=100)
    parser.add_argument("--timeout", type=float, default=600)
    parser.add_argument("--module-path", default=None, help="directory holding the _veltrane build to measure")
    parser.add_argument("--scaling", action="store_true")
    parser.add_argument("--case", type=int, nargs="+", help="run only these cases (0-based rows of the table)")
    args = parser.parse_args()
    scaling(args) if args.scaling else standard(args)


if __name__ == "__main__":
    main()
