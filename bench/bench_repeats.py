"""The repeats search's figures, side by side with pydivsufsort in one run.

Usage:
    python bench/bench_repeats.py                       # every case below
    python bench/bench_repeats.py --bench build/dev/veltrane_bench_repeats --rounds 3

Needs the development build (cmake -S . -B build/dev -DVELTRANE_CORE_TESTS=ON &&
cmake --build build/dev --target veltrane_bench_repeats) and, for the comparison,
pip install pydivsufsort numpy. Every measurement runs in a fresh process, so its
peak memory is its own; the best of --rounds is shown, and the ratios compare
runs made one right after the other (the machine is shared: absolute seconds
drift, ratios much less).

Cases:
  - 1 MiB of random bytes with the defaults (top=20, min_count=2, min_length=4,
    maximal, exclude_periodic, non_overlap);
  - the index build on the same input: repeats with top=1, the fragment search
    with count=1, and pydivsufsort's divsufsort + kasai;
  - the machine's Python shared library (sysconfig's LDLIBRARY in LIBDIR) with
    the defaults and min_entropy=1.0, and pydivsufsort on it;
  - `veltrane scan` with its defaults on the library and on the random file,
    end to end in a child process (start-up, the battery, the search, the table);
    the package must be importable (installed, or PYTHONPATH=build/dev/site).
"""
import argparse
import json
import os
import random
import subprocess
import sys
import sysconfig
import tempfile

PYDIVSUFSORT = r"""
import json, resource, sys, time
import numpy as np
from pydivsufsort import divsufsort, kasai
data = np.fromfile(sys.argv[1], dtype=np.uint8)
start = time.perf_counter()
sa = divsufsort(data)
middle = time.perf_counter()
lcp = kasai(data, sa)
end = time.perf_counter()
print(json.dumps({"seconds": end - start, "divsufsort": middle - start,
                  "peak_mib": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024}))
"""


# The command line end to end, as a user runs it: the scan's seconds and the
# child's peak resident memory.
CLI = r"""
import json, resource, subprocess, sys, time
start = time.perf_counter()
subprocess.run([sys.executable, "-m", "veltrane", "scan", *sys.argv[1:]], check=True, stdout=subprocess.DEVNULL)
print(json.dumps({"seconds": time.perf_counter() - start,
                  "peak_mib": resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024}))
"""


def run(command):
    out = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    return json.loads(out.splitlines()[0])


def best(command, rounds):
    results = [run(command) for _ in range(rounds)]
    return min(results, key=lambda r: r["seconds"])


def python_library():
    libdir, name = sysconfig.get_config_var("LIBDIR"), sysconfig.get_config_var("INSTSONAME")
    path = os.path.realpath(os.path.join(libdir or "", name or ""))
    return path if os.path.isfile(path) else None


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bench", default="build/dev/veltrane_bench_repeats")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    bench = [args.bench]
    with tempfile.TemporaryDirectory() as tmp:
        random_file = os.path.join(tmp, "random.bin")
        with open(random_file, "wb") as f:
            f.write(random.Random(1).randbytes(1 << 20))
        reference = [sys.executable, "-c", PYDIVSUFSORT]

        rows = []
        r = best(bench + [random_file], args.rounds)
        rows.append(("1 MiB random, defaults", r))
        dss = best(reference + [random_file], args.rounds)
        index = best(bench + [random_file, "--top", "1"], args.rounds)
        old = best(bench + [random_file, "--fragment-search", "1"], args.rounds)
        rows.append(("1 MiB random, repeats top=1 (index build)", index))
        rows.append(("1 MiB random, fragment search count=1", old))
        rows.append(("1 MiB random, pydivsufsort divsufsort + kasai", dss))
        print(f"index build / (divsufsort + kasai): repeats {index['seconds'] / dss['seconds']:.2f}x, "
              f"fragment search {old['seconds'] / dss['seconds']:.2f}x")

        library = python_library()
        if library:
            size = os.path.getsize(library)
            lib = best(bench + [library, "--min-entropy", "1.0"], args.rounds)
            lib_dss = best(reference + [library], args.rounds)
            rows.append((f"{library} ({size / 1e6:.1f} MB), defaults + min_entropy=1.0", lib))
            rows.append((f"{library}, pydivsufsort divsufsort + kasai", lib_dss))
            print(f"library search / (divsufsort + kasai): {lib['seconds'] / lib_dss['seconds']:.2f}x")
            cli = best([sys.executable, "-c", CLI, library], args.rounds)
            rows.append((f"veltrane scan {library} (defaults, end to end)", cli))
        rows.append(("veltrane scan of 1 MiB random (defaults, end to end)",
                     best([sys.executable, "-c", CLI, random_file], args.rounds)))
        for name, r in rows:
            extra = f", {r['fragments']} fragments" if "fragments" in r else ""
            print(f"{name}: {r['seconds']:.3f} s, peak {r['peak_mib']:.0f} MiB{extra}")


if __name__ == "__main__":
    main()
