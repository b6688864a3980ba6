"""The SP 800-90B assessment: time and memory per sample against NIST's reference tool (run by hand).

    python bench/bench_sp800_90b.py [--repeat R] [--pi PATH] [--only bits|wide]

Each input is measured in a fresh child process: the best of R runs of
`veltrane.sp800_90b` (wall time, and the process CPU time of the fastest run,
which counts both workers), and the peak resident memory the assessment adds
(the child's peak minus what it held before the call), per sample.

Inputs of 10^6 one-bit samples (one per byte, 0 or 1): random bits; the
recorded ring oscillator (tests/data/sp800_90b/truerand_1bit.bin); the first
10^6 binary digits of pi (--pi: an ASCII '0'/'1' text, other characters
skipped; by default the SP 800-22 test data at /work/shared/vectors); ones
with probability 0.2; a sticky Markov chain that keeps its bit with
probability 0.9. Then 10^6 random 8-bit samples and the recorded 8-bit files.

NIST's tool on this kind of machine, from its users' reports and our notes:
0.50-0.57 s for each of the 10^6-bit files (truerand, pi, biased), 21-25 s and
290 MB for 10^6 8-bit samples. The speed ratio is taken against the lower
figures, 0.50 s and 21 s.
"""
import argparse
import json
import os
import pathlib
import random
import subprocess
import sys

DATA = pathlib.Path(__file__).resolve().parent.parent / "tests" / "data" / "sp800_90b"
PI_DIGITS = pathlib.Path("/work/shared/vectors/sp800-22/data.pi")
TOOL_SECONDS = {8: 21.0, 1: 0.50}
MILLION = 10**6

CHILD = r"""
import json, resource, sys, time, veltrane
path, repeat = sys.argv[1], int(sys.argv[2])
data = open(path, "rb").read()
veltrane.sp800_90b(data[:1000])  # the pool and the module's first use
before_kib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
best = None
for _ in range(repeat):
    start, cpu = time.perf_counter(), time.process_time()
    a = veltrane.sp800_90b(data)
    run = (time.perf_counter() - start, time.process_time() - cpu)
    best = run if best is None or run[0] < best[0] else best
peak_kib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(json.dumps({"seconds": best[0], "cpu": best[1], "added_bytes": (peak_kib - before_kib) * 1024,
                  "samples": a.samples, "width": a.width, "h": a.min_entropy}))
"""


def measure(path, repeat):
    done = subprocess.run([sys.executable, "-c", CHILD, str(path), str(repeat)], capture_output=True, text=True,
                          check=True)
    return json.loads(done.stdout)


def pi_bits(path):
    digits = bytes(c - 48 for c in path.read_bytes() if c in (48, 49))[:MILLION]
    if len(digits) < MILLION:
        raise SystemExit(f"{path}: fewer than {MILLION} binary digits")
    return digits


def bit_inputs(scratch, pi_path):
    """The inputs of 10^6 bits: (label, path)."""
    rng = random.Random(2026)
    sticky, bit = bytearray(MILLION), 0
    for i in range(MILLION):
        if rng.random() >= 0.9:
            bit ^= 1
        sticky[i] = bit
    made = {
        "random1.bin": ("10^6 random bits", bytes(b & 1 for b in os.urandom(MILLION))),
        "pi1.bin": ("pi, first 10^6 bits", pi_bits(pi_path) if pi_path.exists() else None),
        "biased1.bin": ("10^6 bits, ones at 0.2", bytes(rng.random() < 0.2 for _ in range(MILLION))),
        "sticky1.bin": ("10^6 bits, sticky (keeps at 0.9)", bytes(sticky)),
    }
    cases = []
    for name, (label, content) in made.items():
        if content is None:
            print(f"(skipped: {label}: no {pi_path})")
            continue
        (scratch / name).write_bytes(content)
        cases.append((label, scratch / name))
    cases.insert(1, ("truerand_1bit (recorded)", DATA / "truerand_1bit.bin"))
    return cases


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--pi", type=pathlib.Path, default=PI_DIGITS, help="ASCII binary digits of pi")
    parser.add_argument("--only", choices=("bits", "wide"), help="only the 1-bit or only the 8-bit inputs")
    args = parser.parse_args()
    scratch = pathlib.Path(os.environ.get("TMPDIR", "/tmp")) / "veltrane-bench-sp800"
    scratch.mkdir(exist_ok=True)
    cases = []
    if args.only != "wide":
        cases += bit_inputs(scratch, args.pi)
    if args.only != "bits":
        random8 = scratch / "random8.bin"
        random8.write_bytes(os.urandom(MILLION))
        cases += [("10^6 random 8-bit samples", random8)]
        cases += [(f"{name} (recorded)", DATA / f"{name}.bin") for name in ("biased-random-bytes", "normal")]
    print(f"{'input':34} {'seconds':>8} {'cpu s':>7} {'x tool':>7} {'bytes/sample':>13} {'H':>8}")
    for label, path in cases:
        r = measure(path, args.repeat)
        tool = TOOL_SECONDS[8 if r["width"] > 1 else 1]
        print(f"{label:34} {r['seconds']:8.4f} {r['cpu']:7.4f} {tool / r['seconds']:7.1f} "
              f"{r['added_bytes'] / r['samples']:13.1f} {r['h']:8.4f}")


if __name__ == "__main__":
    main()
