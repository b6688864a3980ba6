"""`veltrane corpus --dedup/--mark --scheduler` against the one-machine run: the same bytes, ranges and summary.

The corpus plants shared spans across the shards' borders every way: a span
in the first and the last file, one in every file, a file larger than any
shard, runs of one byte, a boilerplate line at the top of every file, and
JSON Lines records (--field) whose text repeats the files'. Each cluster run
is held to the local run of the same command, for several shard sizes and
worker counts. Every test bounds its own time: SIGALRM fails it at its
deadline, and children are killed at theirs.
"""
import filecmp
import json
import os
import random
import signal
import socket
import subprocess
import sys
import threading
import time

import pytest

from children import bounded_child
from deadline import time_limit
from test_cli import child_env

distributed = pytest.importorskip("distributed")


@pytest.fixture(autouse=True)
def deadline():
    with time_limit(150):
        yield


@pytest.fixture(scope="module")
def cluster():
    """Two workers in this process, on loopback TCP (so that a child command can connect too)."""
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=False, host="127.0.0.1",
                                       protocol="tcp://", dashboard_address="127.0.0.1:0", silence_logs=40)
    client = distributed.Client(cluster, timeout=30)
    yield cluster
    client.close()
    cluster.close()


def text(rng, size):
    words = ["entropy", "shard", "corpus", "\u00e9t\u00e9", "line\n", "a", "the", "\u20ac", "window"]
    return " ".join(rng.choice(words) for _ in range(size // 6 + 1))[:size]


def write_corpus(root, seed, files=24):
    root.mkdir(parents=True, exist_ok=True)
    rng = random.Random(seed)
    span, everywhere = text(rng, 300), text(rng, 180)
    boiler = "Copyright the same people, every file starts with this line.\n"
    docs = [text(rng, rng.randrange(0, 2500)) for _ in range(files)]
    docs[0] += span
    docs[-1] = span + docs[-1]
    for i, doc in enumerate(docs):
        at = rng.randrange(len(doc) + 1)
        doc = doc[:at] + everywhere + doc[at:]
        if i % 3 == 0:
            doc += "x" * rng.randrange(100, 900)
        docs[i] = boiler + doc
    docs[files // 2] = text(rng, 20000) + span + everywhere + span  # larger than a shard
    for i, doc in enumerate(docs):
        (root / f"d{i % 3}").mkdir(exist_ok=True)
        (root / f"d{i % 3}" / f"f{i:02}.txt").write_text(doc, encoding="utf-8")
    records = [{"id": i, "text": rng.choice(docs)[:rng.randrange(50, 800)] + text(rng, 100)} for i in range(30)]
    with open(root / "records.jsonl", "w", encoding="utf-8") as out:
        out.writelines(json.dumps(record) + "\n" for record in records)
    return root


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    return write_corpus(tmp_path_factory.mktemp("corpus"), 26)


def same_tree(a, b):
    compared = filecmp.dircmp(a, b)
    assert not compared.left_only and not compared.right_only and not compared.funny_files, compared.report()
    _, mismatch, errors = filecmp.cmpfiles(a, b, compared.common_files, shallow=False)
    assert not mismatch and not errors, mismatch
    for sub in compared.common_dirs:
        same_tree(os.path.join(a, sub), os.path.join(b, sub))


@pytest.mark.parametrize("keep, whole_lines, min_length, shard_size", [
    ("first", False, 100, "1"),  # every input a shard of its own
    ("first", True, 60, "6K"),
    ("none", False, 100, "10K"),
    ("none", True, 20, "1G"),  # windows too short for anchors; one shard
])
def test_output_equals_the_one_machine_run(cluster, corpus, tmp_path, run_cli, keep, whole_lines, min_length,
                                           shard_size):
    flags = ["--field", "text", "--keep", keep, "--min-length", min_length] + (["--whole-lines"] if whole_lines else [])
    local = run_cli("corpus", corpus, "--dedup", tmp_path / "local", *flags)
    assert (local.returncode, local.stderr) == (0, ""), local.stderr
    assert " 1 pass)" not in local.stdout  # something was removed
    on_cluster = run_cli("corpus", corpus, "--dedup", tmp_path / "cluster", *flags,
                         "--scheduler", cluster.scheduler_address, "--shard-size", shard_size)
    assert (on_cluster.returncode, on_cluster.stderr, on_cluster.stdout) == (0, "", local.stdout)
    same_tree(tmp_path / "local", tmp_path / "cluster")


def test_marks_equal_the_one_machine_run_for_any_worker_count(corpus, tmp_path):
    """A LocalCluster of the command's own, of one and of three worker processes."""
    args = [sys.executable, "-m", "veltrane", "corpus", str(corpus), "--field", "text", "--keep", "none",
            "--min-length", "50", "--mark"]
    local = subprocess.run(args + [str(tmp_path / "local.jsonl")], capture_output=True, text=True, env=child_env(),
                           timeout=100)
    assert local.returncode == 0, local.stderr
    for workers, shard_size in ((1, "3K"), (3, "20K")):
        marks = tmp_path / f"cluster-{workers}.jsonl"
        done = subprocess.run(args + [str(marks), "--scheduler", f"local:{workers}", "--shard-size", shard_size],
                              capture_output=True, text=True, env=child_env(), timeout=100)
        assert (done.returncode, done.stderr, done.stdout) == (0, "", local.stdout)
        assert marks.read_bytes() == (tmp_path / "local.jsonl").read_bytes()


def test_an_unreadable_input_is_one_error_line(cluster, corpus, tmp_path, run_cli):
    bad = tmp_path / "inputs"
    bad.mkdir()
    (bad / "a.jsonl").write_text('{"text": "fine"}\n{"other": 1}\n', encoding="utf-8")
    (bad / "b.txt").write_text("kept\n", encoding="utf-8")
    local = run_cli("corpus", corpus, bad, "--field", "text", "--dedup", tmp_path / "local")
    on_cluster = run_cli("corpus", corpus, bad, "--field", "text", "--dedup", tmp_path / "cluster",
                         "--scheduler", cluster.scheduler_address, "--shard-size", "8K")
    assert local.returncode == on_cluster.returncode == 1
    assert on_cluster.stderr == local.stderr == f"veltrane: {bad}/a.jsonl:2: no field 'text'; {bad}/a.jsonl is left out\n"
    assert on_cluster.stdout == local.stdout
    same_tree(tmp_path / "local", tmp_path / "cluster")


def test_a_killed_worker_costs_time_only(tmp_path):
    from veltrane._cluster_dedup import deduplicate_on_cluster
    from veltrane._corpus import duplicate_spans

    root = write_corpus(tmp_path / "big", 3, files=150)
    expected = duplicate_spans([p for p in sorted(root.rglob("*.txt"))], keep="first")
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                       dashboard_address="127.0.0.1:0", silence_logs=50)
    client = distributed.Client(cluster, timeout=30)
    try:
        pids = list(client.run(os.getpid).values())
        killed = threading.Event()

        def kill():
            os.kill(pids[0], signal.SIGKILL)
            killed.set()

        timer = threading.Timer(1.0, kill)
        timer.start()
        done = deduplicate_on_cluster(client, [str(p) for p in sorted(root.rglob("*.txt"))], ranges=True,
                                      shard_size=2000)
        timer.cancel()
        assert killed.is_set(), "the run ended before the worker was killed: nothing was tested"
        assert done.ranges == list(expected) and done.passes == expected.passes
        assert pids[0] not in client.run(os.getpid).values()
    finally:
        client.close()
        cluster.close()


def test_ctrl_c_exits_130_and_leaves_no_tasks(cluster, tmp_path):
    root = write_corpus(tmp_path / "slow", 5, files=400)
    command = [sys.executable, "-m", "veltrane", "corpus", root, "--dedup", tmp_path / "out",
               "--scheduler", cluster.scheduler_address, "--shard-size", "500"]
    with bounded_child(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=child_env()) as child:
        client = distributed.Client(cluster.scheduler_address, timeout=30)
        try:
            for _ in range(600):  # until its work reaches the scheduler
                if client.run_on_scheduler(lambda dask_scheduler: len(dask_scheduler.tasks)):
                    break
                time.sleep(0.05)
            child.send_signal(signal.SIGINT)
            _, err = child.communicate(timeout=60)
            assert child.returncode == 130
            assert err.startswith("veltrane: interrupted") and err.count("\n") == 1
            for _ in range(100):
                if not client.run_on_scheduler(lambda dask_scheduler: len(dask_scheduler.tasks)):
                    break
                time.sleep(0.1)
            else:
                raise AssertionError("tasks left on the scheduler")
        finally:
            client.close()


def test_an_unreachable_scheduler_is_one_line_within_ten_seconds(corpus, tmp_path):
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    started = time.monotonic()
    done = subprocess.run([sys.executable, "-m", "veltrane", "corpus", str(corpus), "--dedup", str(tmp_path / "out"),
                           "--scheduler", f"tcp://127.0.0.1:{port}"], capture_output=True, text=True, env=child_env(),
                          timeout=60)
    assert time.monotonic() - started < 10
    assert (done.returncode, done.stdout) == (2, "")
    assert done.stderr.startswith(f"veltrane: cannot reach the scheduler at tcp://127.0.0.1:{port}")
    assert done.stderr.count("\n") == 1
    assert not (tmp_path / "out").exists()


def test_scheduler_options_need_deduplication(corpus, run_cli):
    done = run_cli("corpus", corpus, "--scheduler", "local:1")
    assert done.returncode == 2 and "--scheduler needs --dedup OUT or --mark SPANS.jsonl" in done.stderr


def test_shards_follow_bytes_not_documents():
    from veltrane._cluster_dedup_plan import plan_shards

    names = [f"f{i}" for i in range(100_000)]
    assert len(plan_shards(names, [1000] * len(names), 64 << 20)) == 2  # 100 MB of small files: two shards
    sizes = [10, 10, 500, 10, 0, 10]
    shards = plan_shards(names[:6], sizes, 25)
    assert shards == [("f0", "f1"), ("f2",), ("f3", "f4", "f5")]  # the large input alone, none left empty
    assert plan_shards([], [], 25) == []


def test_inputs_written_to_one_place_are_refused_as_on_one_machine(cluster, tmp_path, monkeypatch, run_cli):
    """A local file and a URL that mirror to the same place under the output, in different shards."""
    import fsspec

    monkeypatch.chdir(tmp_path)
    (tmp_path / "same").mkdir()
    (tmp_path / "same" / "a.txt").write_text("local text, long enough to be a window " * 4, encoding="utf-8")
    with fsspec.open("memory://same/a.txt", "w", encoding="utf-8") as f:
        f.write("remote text, another window entirely " * 4)
    inputs = ["same/a.txt", "memory://same/a.txt"]
    local = run_cli("corpus", *inputs, "--min-length", "30", "--dedup", tmp_path / "local")
    on_cluster = run_cli("corpus", *inputs, "--min-length", "30", "--dedup", tmp_path / "cluster",
                         "--scheduler", cluster.scheduler_address, "--shard-size", "1")
    assert "same/a.txt" in local.stderr and local.returncode == 1
    assert (on_cluster.returncode, on_cluster.stderr, on_cluster.stdout) == (local.returncode, local.stderr,
                                                                             local.stdout)
    same_tree(tmp_path / "local", tmp_path / "cluster")


def test_workers_dying_again_and_again_is_one_line(cluster, corpus, tmp_path, run_cli, monkeypatch):
    import veltrane._cluster_dedup as dedup

    def dies(*args, **kwargs):
        raise distributed.KilledWorker("window_step-1", "tcp://127.0.0.1:1", 3)

    monkeypatch.setattr(dedup, "deduplicate_on_cluster", dies)
    done = run_cli("corpus", corpus, "--dedup", tmp_path / "out", "--scheduler", cluster.scheduler_address)
    assert done.returncode == 1 and done.stdout == ""
    assert done.stderr.count("\n") == 1 and done.stderr.startswith(f"veltrane: {tmp_path / 'out'}: the cluster's workers")


def test_dask_failing_inside_itself_is_one_line_but_our_own_faults_are_not_hidden(cluster, corpus, tmp_path, run_cli,
                                                                                  monkeypatch):
    """After losing workers, distributed's client can fail in its own code (an error with no exception to raise):
    one line, not a traceback; an error raised by veltrane's own code still surfaces."""
    import veltrane._cluster_dedup as dedup

    inside_dask: dict = {"__name__": "distributed.client"}
    exec("def gather():\n    None.with_traceback(None)\n", inside_dask)
    monkeypatch.setattr(dedup, "deduplicate_on_cluster", lambda *args, **kwargs: inside_dask["gather"]())
    done = run_cli("corpus", corpus, "--dedup", tmp_path / "out", "--scheduler", cluster.scheduler_address)
    assert done.returncode == 1 and done.stdout == "" and done.stderr.count("\n") == 1
    assert done.stderr.startswith(f"veltrane: {tmp_path / 'out'}: the cluster failed (AttributeError in Dask: ")

    def ours(*args, **kwargs):
        raise AttributeError("a fault of veltrane's own")

    monkeypatch.setattr(dedup, "deduplicate_on_cluster", ours)
    with pytest.raises(AttributeError, match="veltrane's own"):
        run_cli("corpus", corpus, "--dedup", tmp_path / "out2", "--scheduler", cluster.scheduler_address)


def test_a_bad_record_of_an_input_named_relatively_is_the_one_machine_message(cluster, tmp_path, run_cli,
                                                                              monkeypatch):
    """The workers read the input by its absolute path; the message names it, twice, as it was given."""
    import gzip

    monkeypatch.chdir(tmp_path)
    (tmp_path / "in").mkdir()
    records = [{"text": f"record {i} " * 20} for i in range(30)]
    lines = [json.dumps(record) for record in records]
    lines[17] = '{"text": 3}'
    (tmp_path / "in" / "bad.jsonl").write_text("\n".join(lines) + "\n")
    (tmp_path / "in" / "bad.jsonl.gz").write_bytes(gzip.compress(("\n".join(lines) + "\n").encode(), mtime=0))
    local = run_cli("corpus", "in", "--field", "text", "--dedup", "local")
    done = run_cli("corpus", "in", "--field", "text", "--dedup", "cluster", "--scheduler", cluster.scheduler_address)
    assert local.stderr.count("in/bad.jsonl:18: field 'text' is a number") == 1 and str(tmp_path) not in local.stderr
    assert (done.returncode, done.stderr, done.stdout) == (local.returncode, local.stderr, local.stdout)


def test_the_default_shard_fits_the_smallest_thread_and_spreads_the_corpus():
    from veltrane._cluster_dedup_plan import (DEFAULT_SHARD_SIZE, SHARD_SHARE_OF_MEMORY, SHARDS_PER_THREAD,
                                              fitted_shard_size, thread_memory)

    huge, GB = 1 << 50, 1 << 30
    workers = {"a": {"memory_limit": 64 * GB, "nthreads": 4}, "b": {"memory_limit": 0, "nthreads": 2},
               "c": {"memory_limit": 12 * GB, "nthreads": 1}}
    assert thread_memory(workers) == [16 * GB] * 4 + [None] * 2 + [12 * GB]  # a thread's share; 0 states none
    assert fitted_shard_size(thread_memory(workers), huge) == 12 * GB // SHARD_SHARE_OF_MEMORY  # the smallest
    assert fitted_shard_size([None, None], huge) == DEFAULT_SHARD_SIZE  # no limit stated: the default
    assert fitted_shard_size([64 * GB] * 100, huge) == GB  # large threads, large corpus: large shards
    # A corpus small for the cluster: every thread still gets its shards.
    assert fitted_shard_size([64 * GB] * 2, 500_000_000) == -(-500_000_000 // (SHARDS_PER_THREAD * 2))
    assert fitted_shard_size([1000], huge) == fitted_shard_size([4 * GB], 10) == 1 << 20  # never below 1 MiB
