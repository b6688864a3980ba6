"""`veltrane corpus --dedup` on a 2-worker LocalCluster against the same command on one machine (run by hand).

    python bench/bench_cluster_dedup.py [--mb 500] [--shard-size SIZE] [--form files|jsonl|jsonl.gz|parquet]

The corpus is the machine's real text as bench_corpus.py selects it (the
first files, in path order, up to M MB; with --form jsonl, one JSON Lines
input holding a record per file, read with --field text, which the cluster
run cuts into pieces; jsonl.gz the same through gzip, parquet a Parquet input
of row groups of 100 rows, about 1.6 MB; --jsonl is --form jsonl). The one-machine run goes first,
through the command line in a fresh process, with its wall time, CPU time and
peak resident memory. Then a LocalCluster of 2 worker processes (one thread
each) whose memory limit per worker is a quarter of that peak runs the same
command with --scheduler; its clock starts after the cluster is up. Reported:
both times and the ratio (target <= 2), the workers' CPU time, the output
compared file by file, the tasks the scheduler ran per shard, and the bytes
that moved between the workers per corpus byte (with 2 workers about half of
every shuffle stays on its worker; with many nearly all of it moves).
"""
import argparse
import filecmp
import json
import multiprocessing
import os
import resource
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_corpus import linked, text_files, timed  # noqa: E402


def same_tree(a, b):
    compared = filecmp.dircmp(a, b)
    if compared.left_only or compared.right_only or compared.funny_files:
        return False
    _, mismatch, errors = filecmp.cmpfiles(a, b, compared.common_files, shallow=False)
    return not mismatch and not errors and all(same_tree(os.path.join(a, d), os.path.join(b, d))
                                               for d in compared.common_dirs)


def worker_cpu():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def worker_peak_memory():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def worker_sent(dask_worker):
    return dask_worker.transfer_outgoing_bytes_total


def task_counter():
    """A scheduler plugin counting the tasks that ran (each key once, however often it ran) and the workers that joined."""
    from distributed.diagnostics.plugin import SchedulerPlugin

    class TaskCount(SchedulerPlugin):
        name = "veltrane-bench-task-count"

        def __init__(self):
            self.keys, self.runs, self.joined = set(), 0, 0

        def transition(self, key, start, finish, *args, **kwargs):
            if finish == "processing":
                self.keys.add(key)
                self.runs += 1

        def add_worker(self, scheduler=None, worker=None, **kwargs):
            self.joined += 1  # a nanny's new process after its worker died, during the run

    return TaskCount()


def small_documents_tasks(scratch, veltrane):
    """The tasks a corpus of 100,000 small documents costs, on 2 workers of no memory limit: (tasks, passes)."""
    import random

    from distributed import LocalCluster

    rng = random.Random(5)
    words = [f"w{i}" for i in range(2000)]
    root = os.path.join(scratch, "small")
    for d in range(100):
        os.makedirs(os.path.join(root, f"{d:02}"))
        for f in range(1000):
            text = " ".join(rng.choice(words) for _ in range(180))[:1000]
            with open(os.path.join(root, f"{d:02}", f"{f:03}.txt"), "w") as out:
                out.write(text)
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address="127.0.0.1:0", memory_limit=0, silence_logs=50) as cluster:
        counter = task_counter()
        cluster.scheduler.add_plugin(counter)
        done = subprocess.run(veltrane + [root, "--mark", os.path.join(scratch, "small.jsonl"), "--scheduler",
                                          cluster.scheduler_address, "--shard-size", "64M"],
                              capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit(f"the small-documents run failed ({done.returncode}): {done.stderr}")
    return len(counter.keys), done.stdout.strip().rsplit("(", 1)[-1].rstrip(")")


def one_input(chosen, path):
    """The files as the records (or rows) of one input at `path`, of the form its name says."""
    import gzip

    def records():
        for name in chosen:
            with open(name, encoding="utf-8", errors="replace") as f:
                yield {"path": name, "text": f.read()}

    if path.endswith(".parquet"):
        import pyarrow
        import pyarrow.parquet

        rows = list(records())
        table = pyarrow.table({"path": [r["path"] for r in rows], "text": [r["text"] for r in rows]})
        pyarrow.parquet.write_table(table, path, row_group_size=100)
        return
    with (gzip.open(path, "wt", encoding="utf-8", compresslevel=6) if path.endswith(".gz")
          else open(path, "w", encoding="utf-8")) as out:
        for record in records():
            out.write(json.dumps(record, ensure_ascii=False) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mb", type=float, default=500)
    parser.add_argument("--shard-size", default=None, help="default: the command's own, fitted to the workers")
    parser.add_argument("--memory-share", type=float, default=0.25,
                        help="each worker's memory limit, as a share of the one-machine run's peak")
    parser.add_argument("--form", choices=["files", "jsonl", "jsonl.gz", "parquet"], default="files",
                        help="the files as they are, or as the records or rows of one input of this form")
    parser.add_argument("--jsonl", action="store_const", const="jsonl", dest="form", help="--form jsonl")
    args = parser.parse_args()
    from distributed import Client, LocalCluster

    chosen, total = [], 0
    for path, size in text_files():
        if total >= args.mb * 1e6:
            break
        chosen.append(path)
        total += size
    veltrane = [sys.executable, "-m", "veltrane", "corpus"]
    with tempfile.TemporaryDirectory() as scratch:
        corpus, local_out, cluster_out = (os.path.join(scratch, name) for name in ("corpus", "local", "cluster"))
        os.mkdir(corpus)
        if args.form != "files":
            # In a process of its own: the workers start from this one, and their peak resident size would
            # count the memory that building the input took here.
            maker = multiprocessing.get_context("spawn").Process(
                target=one_input, args=(chosen, os.path.join(corpus, "all." + args.form)))
            maker.start()
            maker.join()
            veltrane += ["--field", "text"]
        else:
            linked(chosen, corpus)
        for path in chosen:  # into the page cache
            with open(path, "rb") as f:
                f.read()
        wall, cpu, peak = timed(veltrane + [corpus, "--dedup", local_out], 1)
        print(f"one machine: {len(chosen)} files, {total / 1e6:.0f} MB: {wall:.1f} s wall, {cpu:.1f} s CPU, "
              f"peak {peak / 1e6:.0f} MB", flush=True)
        limit = int(peak * args.memory_share)
        cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                               dashboard_address="127.0.0.1:0", memory_limit=limit, silence_logs=50,
                               env={"RAYON_NUM_THREADS": "1"})
        client = Client(cluster)
        counter = task_counter()
        cluster.scheduler.add_plugin(counter)
        cpu_before = sum(client.run(worker_cpu).values())
        sent_before = sum(client.run(worker_sent).values())
        start = time.perf_counter()
        sizing = [] if args.shard_size is None else ["--shard-size", args.shard_size]
        done = subprocess.run(veltrane + [corpus, "--dedup", cluster_out, "--scheduler", cluster.scheduler_address]
                              + sizing, capture_output=True, text=True)
        cluster_wall = time.perf_counter() - start
        workers_cpu = sum(client.run(worker_cpu).values()) - cpu_before
        worker_peak = max(client.run(worker_peak_memory).values())
        sent = sum(client.run(worker_sent).values()) - sent_before
        lost = counter.joined
        client.close()
        cluster.close()
        if done.returncode != 0:
            sys.exit(f"the cluster run failed ({done.returncode}): {done.stderr}")
        shards = len(chosen)  # an upper bound, refined below from the plan
        from veltrane._cluster_dedup_pieces import piece_size, plan_pieces
        from veltrane._cluster_dedup_survey import survey_inputs
        from veltrane._cluster_dedup_plan import fitted_shard_size
        from veltrane._walk import list_files
        from veltrane.cli.numbers import parse_size

        shard_size = (fitted_shard_size([limit, limit], total) if args.shard_size is None
                      else parse_size(args.shard_size))
        listing = list_files([corpus], print)
        field = None if args.form == "files" else "text"
        # The survey of a compressed or Parquet input, run here as a worker would run it.
        cuts, _ = survey_inputs(lambda function, *arguments, **_: function(*arguments), lambda found: found,
                                listing.paths, listing.sizes, piece_size(shard_size), field, lambda name: name)
        shards = len(plan_pieces(listing.paths, listing.sizes, shard_size, field, cuts))
        print(f"2-worker LocalCluster, {limit / 1e6:.0f} MB per worker, {shards} shards of {shard_size / 2**20:.1f} MiB: "
              f"{cluster_wall:.1f} s wall, workers {workers_cpu:.1f} s CPU; ratio {cluster_wall / wall:.2f} "
              f"(target <= 2); workers restarted: {lost}; largest worker peak {worker_peak / 1e6:.0f} MB")
        print(f"  output identical: {same_tree(local_out, cluster_out)}; summary: {done.stdout.strip()}")
        print(f"  tasks: {len(counter.keys)} ({len(counter.keys) / shards:.1f} per shard), {counter.runs} runs; "
              f"between workers: {sent / 1e6:.0f} MB ({sent / total:.2f} bytes per corpus byte)")
        if args.form == "files":
            small_tasks = small_documents_tasks(scratch, veltrane)
            print(f"100,000 documents of 1 kB in 64 MiB shards (2 shards): {small_tasks[0]} tasks over {small_tasks[1]}")


if __name__ == "__main__":
    main()
