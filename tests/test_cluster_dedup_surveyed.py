"""`veltrane corpus --scheduler` on a corpus whose gzip JSON Lines and Parquet inputs are cut where a survey says.

The corpus: a text file, a gzip JSON Lines input of two members, a Parquet
input of many row groups, a last text file, all sharing spans. The shard size
makes the survey cut both; the answer, the output tree and the ranges must be
the one-machine run's. Every test bounds its own time.
"""
import gzip
import random
import zlib

import pytest

from deadline import time_limit
from test_cluster_dedup import cluster, same_tree  # noqa: F401 - the module's own two-worker cluster
from test_cluster_dedup_pieces import WORDS, jsonl

distributed = pytest.importorskip("distributed")
pa = pytest.importorskip("pyarrow")
pq = pytest.importorskip("pyarrow.parquet")


@pytest.fixture(autouse=True)
def deadline():
    with time_limit(150):
        yield


def blocks_member(data, every):
    """A gzip member of `data` whose deflate stream ends a block after every `every` bytes."""
    compressor = zlib.compressobj(6, zlib.DEFLATED, 31)
    parts = []
    for at in range(0, len(data), every):
        parts += [compressor.compress(data[at:at + every]), compressor.flush(zlib.Z_BLOCK)]
    return b"".join(parts) + compressor.flush()


def surveyed_corpus(root, seed):
    rng = random.Random(seed)
    root.mkdir(parents=True, exist_ok=True)
    span = " ".join(rng.choice(WORDS) for _ in range(40))
    (root / "a.txt").write_text("first " + span + " and more", encoding="utf-8")
    halves = [jsonl(rng, 400, span=span)[0], jsonl(rng, 300, span=span, final_newline=False)[0]]
    # Two members: the first ends a block every 4,000 bytes (a text this repetitive fits one block otherwise), so
    # that it has checkpoints at every bit offset; the second is gzip's own, one block.
    (root / "b.jsonl.gz").write_bytes(blocks_member(halves[0], 4000) + gzip.compress(halves[1], 9, mtime=0))
    schema = pa.schema([("id", pa.int64()), ("text", pa.string())])
    with pq.ParquetWriter(str(root / "c.parquet"), schema) as writer:
        for group in range(12):
            texts = [" ".join(rng.choice(WORDS) for _ in range(rng.randrange(0, 40))) for _ in range(20)]
            texts[rng.randrange(20)] += "\n" + span + "\n"  # a whole line, for --whole-lines
            writer.write_table(pa.table({"id": range(group * 20, group * 20 + 20), "text": texts}, schema=schema))
    (root / "d.txt").write_text(span + " last", encoding="utf-8")
    return root


def test_cut_gzip_and_parquet_inputs_equal_the_one_machine_run(cluster, tmp_path, run_cli, monkeypatch):
    import veltrane._cluster_dedup as dedup
    import veltrane._cluster_dedup_pieces as pieces

    monkeypatch.setattr(pieces, "SMALLEST_PIECE", 1)
    root = surveyed_corpus(tmp_path / "corpus", 5)
    plans = []
    monkeypatch.setattr(dedup, "plan_pieces", lambda *a: plans.append(pieces.plan_pieces(*a)) or plans[-1])
    on = ["--scheduler", cluster.scheduler_address, "--shard-size", "20000"]
    flags = ["--field", "text", "--min-length", "40"]
    local = run_cli("corpus", root, "--dedup", tmp_path / "local", *flags)
    assert local.returncode == 0 and local.stderr == ""
    done = run_cli("corpus", root, "--dedup", tmp_path / "cluster", *flags, *on)
    assert (done.returncode, done.stderr, done.stdout) == (0, "", local.stdout)
    same_tree(tmp_path / "local", tmp_path / "cluster")
    cut = {name: sum(1 for p in plans[-1] if p.names == (str(root / name),) and p.cut) for name in ("b.jsonl.gz",
                                                                                                     "c.parquet")}
    assert cut["b.jsonl.gz"] >= 4 and cut["c.parquet"] >= 2, cut
    flags += ["--keep", "none", "--whole-lines"]
    local = run_cli("corpus", root, "--mark", tmp_path / "local.jsonl", *flags)
    done = run_cli("corpus", root, "--mark", tmp_path / "cluster.jsonl", *flags, *on)
    assert (done.returncode, done.stderr, done.stdout) == (0, "", local.stdout)
    marks = (tmp_path / "cluster.jsonl").read_bytes()
    assert marks == (tmp_path / "local.jsonl").read_bytes() and b"b.jsonl.gz:" in marks and b"c.parquet:" in marks
