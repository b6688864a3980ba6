"""The SP 800-90B assessment: time and memory per sample against NIST's reference tool (run by hand).

    python bench/bench_sp800_90b.py [--repeat R]

For 10^6 random 8-bit samples, 10^6 random 1-bit samples and the recorded test
files of a million samples, each measured in a fresh child process: the best of
R runs of `veltrane.sp800_90b`, and the peak resident memory the assessment adds
(the child's peak minus what it held before the call), per sample. The tool's
own figures on this kind of machine, from its users' reports and our notes:
21-25 s and 290 MB for 10^6 8-bit samples, about 1.1 s and 21 MB for 10^6 bits;
the speed ratio is taken against the lower figure.
"""
import argparse
import json
import os
import pathlib
import subprocess
import sys

DATA = pathlib.Path(__file__).resolve().parent.parent / "tests" / "data" / "sp800_90b"
TOOL_SECONDS = {8: 21.0, 1: 1.1}

CHILD = r"""
import json, resource, sys, time, veltrane
path, repeat = sys.argv[1], int(sys.argv[2])
data = open(path, "rb").read()
veltrane.sp800_90b(data[:1000])  # the pool and the module's first use
before_kib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
times = []
for _ in range(repeat):
    start = time.perf_counter()
    a = veltrane.sp800_90b(data)
    times.append(time.perf_counter() - start)
peak_kib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(json.dumps({"seconds": min(times), "added_bytes": (peak_kib - before_kib) * 1024,
                  "samples": a.samples, "width": a.width, "h": a.min_entropy}))
"""


def measure(path, repeat):
    done = subprocess.run([sys.executable, "-c", CHILD, str(path), str(repeat)], capture_output=True, text=True,
                          check=True)
    return json.loads(done.stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    scratch = pathlib.Path(os.environ.get("TMPDIR", "/tmp")) / "veltrane-bench-sp800"
    scratch.mkdir(exist_ok=True)
    random8, random1 = scratch / "random8.bin", scratch / "random1.bin"
    random8.write_bytes(os.urandom(10**6))
    random1.write_bytes(bytes(b & 1 for b in os.urandom(10**6)))
    cases = [("10^6 random 8-bit samples", random8), ("10^6 random bits", random1)]
    cases += [(f"{name} (recorded)", DATA / f"{name}.bin") for name in ("biased-random-bytes", "normal",
                                                                       "truerand_1bit")]
    print(f"{'input':34} {'seconds':>8} {'x tool':>7} {'bytes/sample':>13} {'H':>8}")
    for label, path in cases:
        r = measure(path, args.repeat)
        tool = TOOL_SECONDS[8 if r["width"] > 1 else 1]
        print(f"{label:34} {r['seconds']:8.3f} {tool / r['seconds']:7.1f} {r['added_bytes'] / r['samples']:13.1f} "
              f"{r['h']:8.4f}")


if __name__ == "__main__":
    main()
