"""`veltrane corpus` end to end on real text of this machine (run by hand), against libdivsufsort.

    python bench/bench_corpus.py [--mb M] [--sources N] [--repeat R]

Two runs, each in a fresh process through the command line, best of R (wall
and CPU), with the process's peak resident memory:

- dedup: `veltrane corpus DIR --dedup OUT`, reading to writing, on the first
  files (in path order) of the machine's text (Python sources and stubs, C
  and C++ sources, documentation, JSON, XML, scripts under /usr, /opt and
  the Python installations) up to M MB (default 500), against
  pydivsufsort.divsufsort building the suffix array of the same bytes
  (`pip install pydivsufsort`). Target: at most twice its time, at most 10
  bytes of memory per corpus byte.
- cpd: `veltrane corpus DIR --format cpd --min-lines 10` on N Python sources
  (default 5,000), two samples: the installation's (every k-th .py file under
  this interpreter's library, site-packages included, so that they spread
  over all of it), and the first N of the machine's walk above (here mostly
  generated API clients, a near-copy of one another). Target: under 10 s and
  2 GB.

DIR holds symbolic links to the files (the walk follows them), numbered so
that it lists them in this order; the files sit in the page cache after the
first run.
"""
import argparse
import os
import subprocess
import sys
import sysconfig
import tempfile
import time

ROOTS = ("/usr", "/opt", os.path.expanduser("~/.pyenv"))
SUFFIXES = (".py", ".pyi", ".c", ".h", ".cpp", ".hpp", ".txt", ".rst", ".md", ".html", ".js", ".css", ".json",
            ".xml", ".sh", ".pl", ".pm")
LARGEST_FILE = 4 << 20

SORT = "import os, sys, time, numpy, pydivsufsort\n" \
       "names = sorted(os.listdir(sys.argv[1]))\n" \
       "data = b''.join(open(os.path.join(sys.argv[1], n), 'rb').read() for n in names)\n" \
       "array = numpy.frombuffer(bytearray(data), dtype=numpy.uint8)\n" \
       "start = time.perf_counter(); pydivsufsort.divsufsort(array)\n" \
       "print(time.perf_counter() - start)\n"


def text_files():
    for root in ROOTS:
        for directory, subdirectories, names in os.walk(root):
            subdirectories.sort()
            for name in sorted(names):
                path = os.path.join(directory, name)
                if name.endswith(SUFFIXES) and os.path.isfile(path) and not os.path.islink(path):
                    size = os.path.getsize(path)
                    if 0 < size <= LARGEST_FILE:
                        yield path, size


def installation_sources(count):
    """Every k-th Python source of this interpreter's library, `count` of them in walk order."""
    paths = []
    for directory, subdirectories, names in os.walk(sysconfig.get_paths()["stdlib"]):
        subdirectories.sort()
        paths += [os.path.join(directory, name) for name in sorted(names) if name.endswith(".py")]
    paths = [p for p in paths if os.path.isfile(p) and not os.path.islink(p) and os.path.getsize(p) > 0]
    step = max(1, len(paths) // count)
    return [(p, os.path.getsize(p)) for p in paths[::step][:count]]


def linked(paths, directory):
    width = len(str(len(paths)))
    for i, path in enumerate(paths):
        os.symlink(path, os.path.join(directory, f"{i:0{width}d}_{os.path.basename(path)}"))


def timed(command, repeat):
    """Best wall time, its CPU time and the largest peak memory of `repeat` runs."""
    best = None
    for _ in range(repeat):
        start = time.perf_counter()
        process = subprocess.Popen(command, stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(process.pid, 0)
        wall = time.perf_counter() - start
        if status != 0:
            sys.exit(f"{command[:4]} failed with status {status}")
        run = (wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss * 1024)
        best = run if best is None or run[0] < best[0] else best
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mb", type=float, default=500)
    parser.add_argument("--sources", type=int, default=5000)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    chosen, total, sources = [], 0, []
    for path, size in text_files():
        if total < args.mb * 1e6:
            chosen.append(path)
            total += size
        if path.endswith(".py") and len(sources) < args.sources:
            sources.append((path, size))
        if total >= args.mb * 1e6 and len(sources) >= args.sources:
            break
    veltrane = [sys.executable, "-m", "veltrane", "corpus"]
    with tempfile.TemporaryDirectory() as scratch:
        corpus, out = os.path.join(scratch, "corpus"), os.path.join(scratch, "out")
        os.mkdir(corpus)
        linked(chosen, corpus)
        wall, cpu, peak = timed(veltrane + [corpus, "--dedup", out], 1)  # the first run fills the page cache
        for _ in range(args.repeat - 1):
            subprocess.run(["rm", "-rf", out], check=True)
            run = timed(veltrane + [corpus, "--dedup", out], 1)
            wall, cpu, peak = min((wall, cpu, peak), run)
        sort = min(float(subprocess.run([sys.executable, "-c", SORT, corpus], check=True, capture_output=True,
                                        text=True).stdout) for _ in range(args.repeat))
        print(f"dedup: {len(chosen)} files, {total / 1e6:.0f} MB: {wall:.1f} s wall, {cpu:.1f} s CPU, "
              f"peak {peak / 1e6:.0f} MB ({peak / total:.2f} bytes per corpus byte)")
        print(f"       libdivsufsort (pydivsufsort) on the same bytes: {sort:.1f} s; "
              f"ratio {wall / sort:.2f} (target <= 2)")
        for label, sample in (("the installation's", installation_sources(args.sources)),
                              ("the machine walk's first", sources)):
            cpd = os.path.join(scratch, "sources")
            subprocess.run(["rm", "-rf", cpd], check=True)
            os.mkdir(cpd)
            linked([path for path, _ in sample], cpd)
            size = sum(s for _, s in sample)
            wall, cpu, peak = timed(veltrane + [cpd, "--format", "cpd", "--min-lines", "10"], args.repeat)
            print(f"cpd:   {label} {len(sample)} Python sources, {size / 1e6:.0f} MB: {wall:.1f} s wall, "
                  f"{cpu:.1f} s CPU, peak {peak / 1e6:.0f} MB ({peak / size:.1f} bytes per corpus byte; "
                  f"target < 10 s, < 2000 MB)")


if __name__ == "__main__":
    main()
