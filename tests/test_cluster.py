"""`veltrane scan --scheduler` and `veltrane.scan_many` on a LocalCluster of 2 worker processes on 127.0.0.1.

Each cluster result is held against a local scan of the same inputs: the JSON
output byte for byte. The corpus has a few hundred small files and one input
split into several pieces, with runs across the pieces' edges.

memory:// files live in the process that wrote them, so the memory:// corpus
is written three times: here (where the inputs are listed and the local scan
runs) and into each worker (`client.run`), where the tasks read it. A file
written here only is thus listed but unreadable on the workers: the
unreadable-input case.

Every test bounds its own time: SIGALRM fails it at its deadline.
"""
import os
import pathlib
import random
import signal
import socket
import subprocess
import sys
import time

import pytest

import veltrane
from children import bounded_child
from deadline import time_limit
from test_cli import child_env

distributed = pytest.importorskip("distributed")
fsspec = pytest.importorskip("fsspec")

CHUNK = 64 << 10
SPLIT_SIZE = 5 * CHUNK + 1234  # six pieces
memory = fsspec.filesystem("memory")


@pytest.fixture(autouse=True)
def deadline():
    """Fails the test that runs past 120 s instead of hanging the suite."""
    with time_limit(120):
        yield


def start_cluster():
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                       dashboard_address="127.0.0.1:0", silence_logs=40)
    return cluster, distributed.Client(cluster, timeout=30)


@pytest.fixture(scope="module")
def cluster():
    cluster, client = start_cluster()
    yield cluster, client
    client.close()
    cluster.close()


def split_input(rng):
    """Binary, with a run filling a whole piece and ending in the next, a tie in length and repeats."""
    data = bytearray(rng.randbytes(SPLIT_SIZE))
    data[0] = 0
    data[CHUNK - 100 : 2 * CHUNK + 50] = bytes(CHUNK + 150)
    data[4 * CHUNK - 10 : 4 * CHUNK + CHUNK + 140] = b"\xff" * (CHUNK + 150)
    phrase = rng.randbytes(40)
    for at in (3000, 3 * CHUNK + 7, SPLIT_SIZE - 200):
        data[at : at + 40] = phrase
    return bytes(data)


def corpus():
    """name -> content: a few hundred small files of every kind, and the input split into pieces."""
    rng = random.Random(90)
    words = [b"alpha", b"beta", b"gamma", b"\xce\xb4elta", b"entropy", b"\n"]
    files = {"split.bin": split_input(rng), "empty": b""}
    for i in range(300):
        kind, size = i % 4, rng.randrange(1, 3000)
        if kind == 0:
            content = rng.randbytes(size)
        elif kind == 1:
            content = b" ".join(rng.choice(words) for _ in range(size // 6 + 1))
        elif kind == 2:
            content = bytes(size // 2) + rng.randbytes(size // 2)
        else:
            content = bytes([rng.randrange(256)]) * size
        files[f"d{i % 7}/f{i:03}"] = content
    return files


@pytest.fixture(scope="module")
def local_corpus(tmp_path_factory):
    root = tmp_path_factory.mktemp("corpus")
    for name, content in corpus().items():
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        (root / name).write_bytes(content)
    return root


@pytest.fixture
def memory_corpus(cluster):
    _, client = cluster
    root = f"/veltrane-cluster-{os.getpid()}"
    files = {f"{root}/{name}": content for name, content in corpus().items()}
    memory.pipe(files)
    client.run(memory.pipe, files)
    yield f"memory://{root}"
    memory.rm(root, recursive=True)
    client.run(memory.rm, root, recursive=True)


def address(cluster):
    return cluster[0].scheduler_address


@pytest.mark.parametrize("flags", [[], ["--bits", "--fragments", "3", "--rank", "coverage"]])
def test_cluster_scan_equals_local_scan(cluster, local_corpus, flags, run_cli):
    local = run_cli("scan", "--json", *flags, local_corpus)
    assert local.returncode == 0, local.stderr
    on_cluster = run_cli("scan", "--json", *flags, "--scheduler", address(cluster), "--chunk-size", CHUNK,
                         local_corpus)
    assert (on_cluster.returncode, on_cluster.stderr) == (0, "")
    assert on_cluster.stdout == local.stdout
    assert local.stdout.count("\n") == len(corpus())


def test_cluster_scan_of_memory_urls_equals_local_scan(cluster, memory_corpus, run_cli):
    local = run_cli("scan", "--json", memory_corpus)
    on_cluster = run_cli("scan", "--json", "--scheduler", address(cluster), "--chunk-size", CHUNK, memory_corpus)
    assert (local.returncode, on_cluster.returncode, on_cluster.stderr) == (0, 0, "")
    assert on_cluster.stdout == local.stdout and local.stdout.count("\n") == len(corpus())
    # Text decoding of every input happens on the workers too: the same failures, named the same way.
    local = run_cli("scan", "--json", "--text", memory_corpus)
    on_cluster = run_cli("scan", "--json", "--text", "--scheduler", address(cluster), "--chunk-size", CHUNK,
                         memory_corpus)
    assert (on_cluster.returncode, on_cluster.stdout, on_cluster.stderr) == (1, local.stdout, local.stderr)
    assert "split.bin: not valid UTF-8" in local.stderr


def test_an_input_the_workers_cannot_read_is_one_error(cluster, memory_corpus, run_cli):
    hidden = f"{memory_corpus}/d3/only-here"  # listed here, absent on the workers
    memory.pipe(hidden.removeprefix("memory://"), b"seen by the client alone")
    done = run_cli("scan", "--json", "--scheduler", address(cluster), "--chunk-size", CHUNK, memory_corpus)
    assert done.returncode == 1
    assert done.stderr == f"veltrane: {hidden}: No such file or directory\n"
    assert done.stdout.count("\n") == len(corpus())
    assert hidden not in done.stdout


def test_a_killed_worker_loses_no_input_and_doubles_none(local_corpus):
    cluster, client = start_cluster()
    try:
        names = sorted(str(p) for p in local_corpus.rglob("*") if p.is_file())
        pids = list(client.run(os.getpid).values())
        seen, done_bytes = [], []
        for name, result in veltrane.scan_many([local_corpus], client, chunk_size=CHUNK, fragments=2,
                                               progress=done_bytes.append):
            if not seen:
                os.kill(pids[0], signal.SIGKILL)  # mid-scan: its tasks must run again on the other worker
            seen.append((name, result))
        assert [name for name, _ in seen] == names
        assert sum(done_bytes) == sum(len(content) for content in corpus().values())  # each task counted once
        for name, result in seen:
            assert result == veltrane.scan(pathlib.Path(name), fragments=2), name
        assert pids[0] not in client.run(os.getpid).values()
    finally:
        client.close()
        cluster.close()


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def test_an_unreachable_scheduler_is_one_line_within_ten_seconds(local_corpus):
    started = time.monotonic()
    done = subprocess.run([sys.executable, "-m", "veltrane", "scan", "--scheduler", f"tcp://127.0.0.1:{free_port()}",
                           str(local_corpus)], capture_output=True, text=True, env=child_env(), timeout=60)
    assert time.monotonic() - started < 10
    assert (done.returncode, done.stdout) == (2, "")
    assert done.stderr.startswith("veltrane: cannot reach the scheduler at tcp://127.0.0.1:")
    assert done.stderr.count("\n") == 1


def test_ctrl_c_cancels_the_scan(cluster, tmp_path):
    _, client = cluster
    slow = tmp_path / "slow"
    slow.mkdir()
    (slow / "a").write_bytes(b"first")
    (slow / "b").write_bytes(random.Random(3).randbytes(24 << 20))  # its repeats search takes seconds
    with bounded_child([sys.executable, "-m", "veltrane", "scan", "--json", "--scheduler", address(cluster), slow],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=child_env()) as child:
        first = child.stdout.readline()
        assert first.startswith(f'{{"path": "{slow / "a"}", ')
        child.send_signal(signal.SIGINT)
        _, err = child.communicate(timeout=30)
    assert child.returncode == 130
    # The signal may land just after a's result is written and before the command
    # names b as the input in progress; either way one line names a scanned input.
    assert err in (f"veltrane: interrupted while scanning {slow / name}\n" for name in ("a", "b"))
    # Its futures were cancelled: the scheduler forgets them.
    for _ in range(100):
        if not client.run_on_scheduler(lambda dask_scheduler: len(dask_scheduler.tasks)):
            break
        time.sleep(0.1)
    else:
        raise AssertionError("tasks left on the scheduler")


def test_a_local_cluster_of_its_own(local_corpus):
    args = [sys.executable, "-m", "veltrane", "scan", "--csv", str(local_corpus)]
    local = subprocess.run(args, capture_output=True, text=True, env=child_env(), timeout=100)
    on_cluster = subprocess.run(args + ["--scheduler", "local:2", "--chunk-size", "100K"], capture_output=True,
                                text=True, env=child_env(), timeout=100)
    assert (on_cluster.returncode, on_cluster.stderr) == (0, "")
    assert on_cluster.stdout == local.stdout
    refused = subprocess.run(args + ["--scheduler", "local:0"], capture_output=True, text=True, env=child_env(),
                             timeout=100)
    assert refused.returncode == 2 and refused.stderr.count("\n") == 1


CLOSE_NOISILY = """
import logging, distributed
from veltrane._cluster import connect
original = distributed.LocalCluster.close
def close_noisily(self, *args, **kwargs):
    logging.getLogger("distributed.scheduler").critical("closed comm while closing")
    return original(self, *args, **kwargs)
distributed.LocalCluster.close = close_noisily
client, closing = connect("local:1")
assert client.submit(sum, [1, 2]).result(timeout=60) == 3
closing.close()
logging.getLogger("distributed.scheduler").critical("after the close")
"""


def test_closing_a_local_cluster_logs_nothing_and_restores_logging():
    """Shutting down, the side still open logs the other's closed connection at CRITICAL: none of it is shown."""
    done = subprocess.run([sys.executable, "-c", CLOSE_NOISILY], capture_output=True, text=True, env=child_env(),
                          timeout=100)
    assert done.returncode == 0, done.stderr
    assert "closed comm" not in done.stderr
    assert "after the close" in done.stderr
