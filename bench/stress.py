"""The long forms of the leak and thread checks (the short ones run in tests/test_stress.py).

    PYTHONPATH=build/dev/site python3 bench/stress.py --calls 100000 --seconds 60
    bench/stress_debug.sh --calls 100000 --seconds 60                      # on 3.15's debug interpreter, with reference counts

For every case of tests/stress_cases.py (every function, valid arguments and
each kind of failing one) it prints how much the total reference count (on a
debug interpreter), the traced Python allocations, the C allocator's bytes in
use and the resident size grew over --calls calls; then eight threads call every
case at once for --seconds and every result is checked. Exits non-zero on a
leak, a wrong result, a hung thread or a second pool.
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import stress_cases  # noqa: E402


def leak_pass(calls, only):
    failed = 0
    totals = {"refs": 0, "traced": 0, "malloc": 0, "rss": 0}
    print(f"{'case':48} {'refs':>8} {'traced':>9} {'malloc':>9} {'rss':>9}   ({calls} calls each)")
    for name, call, expected in stress_cases.cases():
        if only and only not in name:
            continue
        grown = stress_cases.growth(call, expected, calls)
        bad = stress_cases.leak_verdict(grown, calls)
        if bad:
            bad = stress_cases.leaks(call, expected, calls)  # confirm over two more rounds
        failed += bool(bad)
        for key, value in grown.items():
            if value is not None:
                totals[key] = max(totals[key], value)
        cells = ["-" if grown[k] is None else str(grown[k]) for k in ("refs", "traced", "malloc", "rss")]
        print(f"{name:48} {cells[0]:>8} {cells[1]:>9} {cells[2]:>9} {cells[3]:>9}" + (f"   LEAK {bad}" if bad else ""))
    print(f"largest growth: {totals}; cases that leak: {failed}")
    return failed == 0


def thread_pass(seconds, threads=8):
    counts, errors, hung, extra = stress_cases.thread_pass(seconds, threads)
    print(f"{threads} threads for {seconds} s: {sum(counts)} calls (fewest per thread {min(counts)}), "
          f"{len(errors)} wrong, {hung} hung, {extra} threads left besides the pool's")
    for error in errors[:10]:
        print("  ", error)
    return not errors and not hung and extra == 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--calls", type=int, default=100_000, help="calls per case in the leak pass")
    parser.add_argument("--seconds", type=float, default=60, help="length of the thread pass (0: skip it)")
    parser.add_argument("--only", default="", help="run only the cases whose name contains this")
    args = parser.parse_args()
    # The pool starts with the first large call: count its threads out of the thread pass.
    stress_cases.cases()
    ok = leak_pass(args.calls, args.only) if args.calls else True
    if args.seconds:
        ok &= thread_pass(args.seconds)
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
