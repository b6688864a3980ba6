"""SP 800-22's fifteen tests on 100 sequences of 10^6 bits against NIST's program (run by hand).

    PYTHONPATH=build/dev/site python3 bench/bench_sp800_22.py [--repeat R] [--sequences M] [--threads T]

NIST's program (sts 2.1.2) takes about 3 s of CPU for one sequence of 10^6 bits through all fifteen tests
on this machine kind (6.2-6.6 s of wall time with its file writes: time.txt beside each recorded run in
tests/data/sp800_22), so about 300 s for the usual 100 sequences, on one core; the target is 50 times
faster. Each run is a fresh child process (after a small call that starts the pool and builds nothing
the run would reuse), best of R, with the CPU time of every thread beside the wall time, and the peak
resident memory the run adds. The data is 12.5 MB of seeded pseudo-random bytes, read from a file by the
command line as a user would (mapped, streamed a chunk of sequences at a time), and in memory through
`veltrane.sp800_22`. A second case streams a 128 MB file (1,024 sequences) to show that memory holds a few
sequences whatever the input's size.
"""
import argparse
import json
import os
import pathlib
import random
import subprocess
import sys
import tempfile

PROGRAM_CPU_SECONDS_PER_SEQUENCE = 3.0

CHILD = r"""
import json, os, resource, sys, time, veltrane
from veltrane.cli import main
kind, path, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
veltrane.sp800_22(b"\x5a" * 2000, length=16000)   # the pool and the module's first use
before_kib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
def cpu():
    r = resource.getrusage(resource.RUSAGE_SELF)
    return r.ru_utime + r.ru_stime
start, start_cpu = time.perf_counter(), cpu()
if kind == "api":
    result = veltrane.sp800_22(open(path, "rb").read(), sequences=count)
    failing = sum(not s.passed for s in result.series)
else:
    with open(os.devnull, "w") as sink:
        stdout, sys.stdout = sys.stdout, sink
        status = main(["sp800-22", path, "--sequences", str(count), "-q", "--report", sys.argv[4]])
        sys.stdout = stdout
    failing = status
wall, used = time.perf_counter() - start, cpu() - start_cpu
peak_kib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(json.dumps({"wall": wall, "cpu": used, "added_bytes": (peak_kib - before_kib) * 1024, "failing": failing}))
"""


def run(kind, path, count, threads, scratch):
    env = dict(os.environ)
    if threads:
        env["RAYON_NUM_THREADS"] = str(threads)
    done = subprocess.run([sys.executable, "-c", CHILD, kind, str(path), str(count), str(scratch)],
                          capture_output=True, text=True, check=True, env=env, timeout=3600)
    return json.loads(done.stdout)


def best_of(repeat, kind, path, count, threads, scratch):
    runs = [run(kind, path, count, threads, scratch) for _ in range(repeat)]
    best = min(runs, key=lambda r: r["wall"])
    return best, min(r["cpu"] for r in runs), max(r["added_bytes"] for r in runs)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--sequences", type=int, default=100)
    parser.add_argument("--threads", type=int, default=0, help="worker threads (default: one per CPU)")
    parser.add_argument("--no-big", action="store_true", help="leave out the 128 MB streaming case")
    args = parser.parse_args()
    program = PROGRAM_CPU_SECONDS_PER_SEQUENCE * args.sequences
    with tempfile.TemporaryDirectory() as scratch:
        scratch = pathlib.Path(scratch)
        data = scratch / "random.bin"
        data.write_bytes(random.Random(22).randbytes(args.sequences * 125_000))
        print(f"{args.sequences} sequences of 10^6 bits, all 15 tests; NIST's program: about {program:.0f} s of CPU")
        print(f"{'case':<44} {'wall s':>8} {'CPU s':>8} {'x wall':>8} {'x CPU':>8} {'MB added':>9}")
        cases = [("api", data, args.sequences, "veltrane.sp800_22 (in memory)"),
                 ("cli", data, args.sequences, "veltrane sp800-22 --report (file)")]
        if not args.no_big:
            big = scratch / "big.bin"
            with big.open("wb") as out:
                rng = random.Random(23)
                for _ in range(128):
                    out.write(rng.randbytes(1 << 20))
            cases.append(("cli", big, 1024, "veltrane sp800-22 --report, 128 MB file"))
        for kind, path, count, label in cases:
            best, cpu, added = best_of(args.repeat, kind, path, count, args.threads, scratch / "report")
            reference = PROGRAM_CPU_SECONDS_PER_SEQUENCE * count
            print(f"{label:<44} {best['wall']:8.2f} {cpu:8.2f} {reference / best['wall']:7.0f}x "
                  f"{reference / cpu:7.0f}x {added / 1e6:9.1f}", flush=True)


if __name__ == "__main__":
    main()
