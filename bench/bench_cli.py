"""Throughput of `veltrane scan` and `veltrane profile` (run by hand).

    python bench/bench_cli.py [SIZE_MIB]          big files (default 1024 MiB)
    python bench/bench_cli.py --jobs [FILES]      many 1 MiB files with --jobs 2 (default 400)

The first form makes a sparse file (all zeros, no disk blocks) and a file of
random bytes of SIZE_MIB MiB, then times the command line on each with the
fragment search off: the figures show whether files reach the native module
through the memory map at its own speed.

The second scans a directory of 1 MiB files with --jobs 2, once as the command
line sizes its workers (each worker's native pool gets its share of the CPUs)
and once with every worker's pool as large as the machine (RAYON_NUM_THREADS set
to the CPU count, what --jobs did before), and reports the time and the most
threads the worker processes had at once.
"""
import os
import subprocess
import sys
import tempfile
import time


def timed(args, env=None):
    start = time.perf_counter()
    subprocess.run([sys.executable, "-m", "veltrane", *args], check=True, stdout=subprocess.DEVNULL, env=env)
    return time.perf_counter() - start


def descendants(root):
    """Thread counts of every process below `root`, from /proc."""
    parents = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as handle:
                    parents[int(entry)] = int(handle.read().rsplit(")", 1)[1].split()[1])
            except (OSError, ValueError, IndexError):
                pass
    found, frontier = {}, [root]
    while frontier:
        pid = frontier.pop()
        for child, parent in parents.items():
            if parent == pid and child not in found:
                try:
                    found[child] = len(os.listdir(f"/proc/{child}/task"))
                except OSError:
                    continue
                frontier.append(child)
    return found


def scan_with_jobs(folder, env):
    """Seconds of `scan --jobs 2`, and the most threads its processes (the scanner and its workers) had."""
    start = time.perf_counter()
    child = subprocess.Popen([sys.executable, "-m", "veltrane", "scan", "--fragments", "0", "--jobs", "2",
                              "--json", folder], stdout=subprocess.DEVNULL, env=env)
    most = 0
    while child.poll() is None:
        counts = descendants(child.pid)
        most = max(most, sum(counts.values()))
        time.sleep(0.02)
    if child.returncode != 0:
        raise SystemExit(f"scan failed with status {child.returncode}")
    return time.perf_counter() - start, most


def jobs_benchmark(files):
    cpus = len(os.sched_getaffinity(0))
    with tempfile.TemporaryDirectory() as folder:
        for i in range(files):
            with open(os.path.join(folder, f"f{i:05}.bin"), "wb") as out:
                out.write(os.urandom(1 << 20))
        base = {k: v for k, v in os.environ.items() if k not in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS")}
        scan_with_jobs(folder, base)  # warm the page cache
        shared, shared_threads = scan_with_jobs(folder, base)
        every, every_threads = scan_with_jobs(folder, {**base, "RAYON_NUM_THREADS": str(cpus)})
        print(f"{files} files of 1 MiB, --jobs 2, {cpus} CPUs:")
        print(f"  each worker's pool sized to its share: {shared:6.2f} s, at most {shared_threads} threads "
              "in the worker processes")
        print(f"  each worker's pool of {cpus} threads:       {every:6.2f} s, at most {every_threads} threads "
              "in the worker processes")
        print(f"  time ratio (shared / every): {shared / every:.2f}")


def big_files(size):
    with tempfile.TemporaryDirectory() as folder:
        sparse = os.path.join(folder, "sparse.bin")
        with open(sparse, "wb") as out:
            out.truncate(size)
        dense = os.path.join(folder, "random.bin")
        with open(dense, "wb") as out:
            for _ in range(size >> 24):
                out.write(os.urandom(1 << 24))
        for label, path in (("sparse", sparse), ("random", dense)):
            timed(["scan", "--fragments", "0", path])  # warm the page cache
            seconds = timed(["scan", "--fragments", "0", "--json", path])
            print(f"scan    {label:<7} {size >> 20} MiB: {seconds:6.2f} s  {size / seconds / (1 << 30):5.2f} GiB/s")
            seconds = timed(["profile", path, "--window", "64K", "--json"])
            print(f"profile {label:<7} {size >> 20} MiB (64 KiB windows): {seconds:6.2f} s")


def main(argv):
    if argv[:1] == ["--jobs"]:
        jobs_benchmark(int(argv[1]) if len(argv) > 1 else 400)
    else:
        big_files(int(argv[0]) << 20 if argv else 1 << 30)


if __name__ == "__main__":
    main(sys.argv[1:])
