"""Throughput of `veltrane scan` locally (--jobs 2) and on a 2-worker LocalCluster, and the cost of a task.

    python bench/bench_cluster.py [--files 2000] [--fragments 5] [--dir DIR]

The corpus: FILES files of 64 KiB to 8 MiB (log-uniform sizes; random bytes,
text-like bytes and zero-padded halves in turn), written once into DIR and
reused. Both runs go through the command line end to end (JSON to
/dev/null); the cluster is started before the clock starts, so its start-up
is reported on its own. The per-task overhead is the time per input of a
corpus of empty files, where nothing but the bookkeeping is left. The figures
are what a 100-worker estimate starts from (see the README).
"""
from __future__ import annotations

import argparse
import math
import os
import pathlib
import random
import subprocess
import sys
import time

COMMAND = [sys.executable, "-m", "veltrane", "scan", "--json", "--quiet"]


def make_corpus(root: pathlib.Path, files: int, seed: int) -> int:
    """Writes the corpus unless it is there; returns its bytes."""
    rng, sizes = random.Random(seed), random.Random(seed + 1)  # sizes apart: a rerun writes nothing
    words = [b"entropy", b"firmware", b"header", b"\x00\x01\x02\x03", b"section", b"\n"]
    total = 0
    for i in range(files):
        size = int(math.exp(sizes.uniform(math.log(64 << 10), math.log(8 << 20))))
        path = root / f"d{i % 20:02}" / f"f{i:05}"
        total += size
        if path.exists() and path.stat().st_size == size:
            continue
        path.parent.mkdir(parents=True, exist_ok=True)
        kind = i % 3
        if kind == 0:
            content = os.urandom(size)
        elif kind == 1:
            unit = b" ".join(rng.choice(words) for _ in range(4096))
            content = (unit * (size // len(unit) + 1))[:size]
        else:
            content = bytes(size // 2) + os.urandom(size - size // 2)
        path.write_bytes(content)
    return total


def timed(args: list[str]) -> float:
    started = time.perf_counter()
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - started


def throughput(corpus: pathlib.Path, total: int, options: list[str], on_cluster: list[str]) -> None:
    local_s = timed(COMMAND + options + ["--jobs", "2", str(corpus)])
    print(f"local --jobs 2:     {local_s:7.1f} s  {total / local_s / 2**20:7.1f} MiB/s", flush=True)
    cluster_s = timed(COMMAND + options + on_cluster + [str(corpus)])
    print(f"2-worker cluster:   {cluster_s:7.1f} s  {total / cluster_s / 2**20:7.1f} MiB/s", flush=True)
    print(f"throughput ratio cluster / local: {local_s / cluster_s:.2f}")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--fragments", type=int, default=5, help="repeats per input (0: measures only)")
    parser.add_argument("--empty", type=int, default=1000, help="empty files for the per-task overhead")
    parser.add_argument("--dir", type=pathlib.Path, default=pathlib.Path("build/bench-cluster"))
    parser.add_argument("--seed", type=int, default=2000)
    parser.add_argument("--overhead-only", action="store_true", help="only the per-input overhead")
    args = parser.parse_args()

    from distributed import Client, LocalCluster

    corpus, empties = args.dir / f"corpus-{args.files}-{args.seed}", args.dir / f"empty-{args.empty}"
    total = make_corpus(corpus, args.files, args.seed)
    empties.mkdir(parents=True, exist_ok=True)
    for i in range(args.empty):
        (empties / f"e{i:05}").touch()
    print(f"corpus: {args.files} files, {total / 2**30:.2f} GiB; --fragments {args.fragments}; "
          f"{os.cpu_count()} CPUs", flush=True)
    options = ["--fragments", str(args.fragments)]

    started = time.perf_counter()
    cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                           dashboard_address="127.0.0.1:0",
                           env={"RAYON_NUM_THREADS": str(max(1, (os.cpu_count() or 2) // 2))})
    client = Client(cluster)
    print(f"LocalCluster of 2 workers started in {time.perf_counter() - started:.1f} s", flush=True)
    try:
        on_cluster = ["--scheduler", cluster.scheduler_address]
        if not args.overhead_only:
            throughput(corpus, total, options, on_cluster)
        # Per input: the same command on empty files, less the command's own start (one empty file).
        base_local = timed(COMMAND + ["--jobs", "2", str(empties / "e00000")])
        base_cluster = timed(COMMAND + on_cluster + [str(empties / "e00000")])
        many_local = timed(COMMAND + ["--jobs", "2", str(empties)])
        many_cluster = timed(COMMAND + on_cluster + [str(empties)])
        per_local = (many_local - base_local) / args.empty * 1e3
        per_cluster = (many_cluster - base_cluster) / args.empty * 1e3
        print(f"per-input overhead: local --jobs 2 {per_local:.2f} ms, cluster {per_cluster:.2f} ms "
              f"(command start: local {base_local:.2f} s, cluster {base_cluster:.2f} s)")
    finally:
        client.close()
        cluster.close()
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
