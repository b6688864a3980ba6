"""SP 800-90B's IID track and restart tests against NIST's tool (run by hand).

    python bench/bench_sp800_90b_iid.py [--repeat R] [--full]

Each case runs in a fresh child process (after a small call that starts the
pool), best of R runs, with the peak resident memory the call adds:

- the IID track on 10^6 random 8-bit samples and on 10^6 random bits, three
  files each, which pass: the tool took 13.7 s (442 rounds) and 12.5 s (1,215
  rounds) on such data (one thread; its threads barely help). Rounds end when
  every statistic has left the test, so they depend on the data and the seed:
  the tool's time for the very same run is estimated from its cost per round,
  0.25 s while compression is still under test (the lower end of its 0.25-0.32
  s), 5.7 ms after;
- the IID track on 10^6 8-bit samples whose every statistic fails (a bounded
  random walk), all 10,000 rounds with compression: the tool's 0.25-0.32 s a
  round make 2,500-3,200 s. Without --full only the first 200 rounds run and
  the whole is extrapolated;
- the restart tests (non-IID validation) on 10^6 6-bit samples: the tool takes
  44 s and 284 MB; the target is 20 times faster and at most 64 bytes a sample.
"""
import argparse
import json
import os
import pathlib
import random
import subprocess
import sys

TOOL_PASSING_SECONDS = {8: 13.7, 1: 12.5}
TOOL_ROUND_WITH_COMPRESSION = 0.25
TOOL_ROUND_WITHOUT = 0.0057
TOOL_FAILING_SECONDS = (2500.0, 3200.0)
TOOL_RESTART_SECONDS = 44.0
SEED = "5eed" * 16
# Files of random samples (named for their generator's seed) that pass the IID tests with SEED.
PASSING = [("bytes-1", 8), ("bytes-2", 8), ("bytes-3", 8), ("bits-1", 1), ("bits-2", 1), ("bits-3", 1)]

CHILD = r"""
import json, resource, sys, time, veltrane, veltrane._engine as engine
from veltrane._sp800_90b_iid import iid_assessment
kind, path, repeat, seed, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4], int(sys.argv[5])
data = open(path, "rb").read()
veltrane.sp800_90b_iid(data[:2000], seed=seed)  # the pool and the module's first use
before_kib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
times, out = [], {}
for _ in range(repeat):
    start = time.perf_counter()
    if kind == "iid":
        raw = engine.sp800_90b_iid(data, None, bytes.fromhex(seed), False, None, rounds)
        a = iid_assessment(raw, seed)
        compression = a.permutation["compression"]
        out = {"rounds": a.permutation.rounds, "with_compression": compression.c0 + compression.c1 + compression.c2,
               "iid": a.iid}
    else:
        t = veltrane.sp800_90b_restart(data, 5.0, bits_per_symbol=6)
        out = {"passed": t.passed}
    times.append(time.perf_counter() - start)
peak_kib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(json.dumps({"seconds": min(times), "added_bytes": (peak_kib - before_kib) * 1024, **out}))
"""


def run(kind, path, repeat, rounds=10000):
    done = subprocess.run([sys.executable, "-c", CHILD, kind, str(path), str(repeat), SEED, str(rounds)],
                          capture_output=True, text=True, check=True)
    return json.loads(done.stdout)


def walk(n, rng):
    """A random walk on 0..255 that reflects at the ends: every IID statistic fails on it."""
    x, out = 128, bytearray(n)
    for i in range(n):
        x += rng.choice((-3, -2, -1, 1, 2, 3))
        x = -x if x < 0 else 510 - x if x > 255 else x
        out[i] = x
    return bytes(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--full", action="store_true", help="run all 10,000 rounds of the failing case")
    args = parser.parse_args()
    scratch = pathlib.Path(os.environ.get("TMPDIR", "/tmp")) / "veltrane-bench-sp800-iid"
    scratch.mkdir(exist_ok=True)
    rng = random.Random(90)
    files = {name: bytes(b & ((1 << width) - 1) for b in random.Random(name).randbytes(10**6))
             for name, width in PASSING}
    files.update({"walk": walk(10**6, rng), "restart6": bytes(b & 63 for b in rng.randbytes(10**6))})
    for name, content in files.items():
        (scratch / f"{name}.bin").write_bytes(content)

    print(f"{'case':42} {'seconds':>9} {'rounds':>7} {'x tool':>8} {'x same run':>10} {'bytes/sample':>13}")
    for name, width in PASSING:
        r = run("iid", scratch / f"{name}.bin", args.repeat)
        same_run = (r["with_compression"] * TOOL_ROUND_WITH_COMPRESSION
                    + (r["rounds"] - r["with_compression"]) * TOOL_ROUND_WITHOUT)
        label = f"IID, {name} ({r['with_compression']} with compression){'' if r['iid'] else ', not IID'}"
        print(f"{label:42} {r['seconds']:9.3f} {r['rounds']:7} {TOOL_PASSING_SECONDS[width] / r['seconds']:8.1f} "
              f"{same_run / r['seconds']:10.1f} {r['added_bytes'] / 1e6:13.1f}")
    rounds = 10000 if args.full else 200
    r = run("iid", scratch / "walk.bin", 1, rounds)
    whole = r["seconds"] * 10000 / r["rounds"]
    print(f"{'IID, 10^6 samples failing every statistic':42} {whole:9.1f} {10000:7} "
          f"{TOOL_FAILING_SECONDS[0] / whole:5.1f}-{TOOL_FAILING_SECONDS[1] / whole:<4.1f}{'':>9}"
          f" {r['added_bytes'] / 1e6:13.1f}" + ("" if args.full else f"   ({r['rounds']} rounds run, extrapolated)"))
    r = run("restart", scratch / "restart6.bin", args.repeat)
    print(f"{'restart tests, 10^6 6-bit samples':42} {r['seconds']:9.3f} {'':>7} "
          f"{TOOL_RESTART_SECONDS / r['seconds']:8.1f} {'':>10} {r['added_bytes'] / 1e6:13.1f}")


if __name__ == "__main__":
    main()
