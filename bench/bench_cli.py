"""Throughput of `veltrane scan` and `veltrane profile` on big files (run by hand).

Usage: python bench/bench_cli.py [SIZE_MIB]    (default 1024)

Makes a sparse file (all zeros, no disk blocks) and a file of random bytes of
SIZE_MIB MiB in a temporary directory, then times the command line on each with
the fragment search off: the figures show whether files reach the native module
through the memory map at its own speed.
"""
import os
import subprocess
import sys
import tempfile
import time


def timed(args):
    start = time.perf_counter()
    subprocess.run([sys.executable, "-m", "veltrane", *args], check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    size = int(sys.argv[1]) << 20 if len(sys.argv) > 1 else 1 << 30
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


if __name__ == "__main__":
    main()
