"""`veltrane corpus --scheduler` on a corpus whose JSON Lines input is cut into pieces, against the one-machine run.

The corpus: a text file, a JSON Lines input without a final newline (blank
lines and CRLF among its records, a span shared with the other inputs in many
of them) cut into pieces, a gzip JSON Lines input kept whole, a last text file.
Shard sizes are chosen so that a cut falls inside a line, right after a
newline or inside a character. Every test bounds its own time.
"""
import random

import pytest

from deadline import time_limit
from test_cluster_dedup import cluster, same_tree  # noqa: F401 - the module's own two-worker cluster
from test_cluster_dedup_pieces import WORDS, jsonl

distributed = pytest.importorskip("distributed")


@pytest.fixture(autouse=True)
def deadline():
    with time_limit(150):
        yield


def split_corpus(root, seed, bad=None):
    """A text file, a large JSON Lines input without a final newline, a large gzip one, a last text file."""
    import gzip

    root.mkdir(parents=True, exist_ok=True)
    rng = random.Random(seed)
    span = " ".join(rng.choice(WORDS) for _ in range(40))
    (root / "a.txt").write_text("first " + span + " and more", encoding="utf-8")
    content, numbers = jsonl(rng, 120, span=span, bad=bad, final_newline=False)
    (root / "b.jsonl").write_bytes(content)
    (root / "c.jsonl.gz").write_bytes(gzip.compress(jsonl(rng, 40, span=span)[0], mtime=0))
    (root / "d.txt").write_text(span + " last", encoding="utf-8")
    return root, content, numbers


def shard_size_cutting(content, kind):
    """A shard size whose cuts of `content` fall, one of them at least, on `kind` of byte."""
    from veltrane._cluster_dedup_pieces import cut_points

    def fits(start):
        if kind == "after a newline":
            return content[start - 1] == ord("\n")
        if kind == "inside a character":
            return content[start] & 0xC0 == 0x80
        return content[start - 1] != ord("\n") and content[start] & 0xC0 != 0x80

    for size in range(len(content) // 3, len(content) // 12, -1):
        if any(fits(start) for start, _ in cut_points(len(content), size)[1:]):
            return size
    raise AssertionError(f"no shard size cuts {kind}")


@pytest.mark.parametrize("kind", ["inside a line", "after a newline", "inside a character"])
def test_a_split_input_equals_the_one_machine_run(cluster, tmp_path, run_cli, monkeypatch, kind):
    import veltrane._cluster_dedup_pieces as pieces

    monkeypatch.setattr(pieces, "SMALLEST_PIECE", 1)
    root, content, _ = split_corpus(tmp_path / "corpus", 7)
    size = str(shard_size_cutting(content, kind))
    on = ["--scheduler", cluster.scheduler_address, "--shard-size", size]
    flags = ["--field", "text", "--min-length", "40"]
    local = run_cli("corpus", root, "--dedup", tmp_path / "local", *flags)
    assert local.returncode == 0 and local.stderr == "" and " 1 pass)" not in local.stdout
    done = run_cli("corpus", root, "--dedup", tmp_path / "cluster", *flags, *on)
    assert (done.returncode, done.stderr, done.stdout) == (0, "", local.stdout)
    same_tree(tmp_path / "local", tmp_path / "cluster")
    flags += ["--keep", "none", "--whole-lines"]
    local = run_cli("corpus", root, "--mark", tmp_path / "local.jsonl", *flags)
    done = run_cli("corpus", root, "--mark", tmp_path / "cluster.jsonl", *flags, *on)
    assert (done.returncode, done.stderr, done.stdout) == (0, "", local.stdout)
    marks = (tmp_path / "cluster.jsonl").read_bytes()
    assert marks == (tmp_path / "local.jsonl").read_bytes() and b"b.jsonl:" in marks


def test_a_bad_record_in_the_second_piece_is_one_message(cluster, tmp_path, run_cli, monkeypatch):
    import veltrane._cluster_dedup_pieces as pieces

    monkeypatch.setattr(pieces, "SMALLEST_PIECE", 1)
    _, content, numbers = split_corpus(tmp_path / "probe", 11)
    size = len(content) // 4
    second, third = pieces.cut_points(len(content), size)[1:3]
    line_starts = [0] + [i + 1 for i, byte in enumerate(content) if byte == ord("\n")]
    bad = next(r for r, (_, line) in enumerate(numbers) if line_starts[line - 1] >= second[0])
    root, bad_content, _ = split_corpus(tmp_path / "corpus", 11, bad=bad)
    record, line = numbers[bad]
    assert len(bad_content) == len(content) and line_starts[line - 1] < third[0]  # it is in the second piece
    assert record != line  # blank lines before it: the message names both
    local = run_cli("corpus", root, "--field", "text", "--dedup", tmp_path / "local")
    done = run_cli("corpus", root, "--field", "text", "--dedup", tmp_path / "cluster",
                   "--scheduler", cluster.scheduler_address, "--shard-size", str(size))
    path = root / "b.jsonl"
    assert done.stderr == local.stderr == f"veltrane: {path}:{record}: no field 'text' (line {line}); {path} is left out\n"
    assert (done.returncode, done.stdout) == (local.returncode, local.stdout) == (1, local.stdout)
    same_tree(tmp_path / "local", tmp_path / "cluster")
