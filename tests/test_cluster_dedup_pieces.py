"""JSON Lines inputs larger than a shard, cut into pieces: the one-machine documents, messages and output wherever the cuts fall.

Without a cluster: pieces cut at random (often a byte before, at or after a
line's start) are held to a reference model that reads the input as lines at
known offsets (a line belongs to the piece holding its first byte), their
written parts, joined, to the one-machine writer's file, and a bad record's
message, settled from the pieces as the client settles them, to the
one-machine loader's. The command on a cluster is test_cluster_dedup_split.py.
Every test bounds its own time.
"""
import json
import os
import random

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from deadline import time_limit

WORDS = ["entropy", "shard", "\u00e9t\u00e9", "\u20ac", "\u65e5\u672c\u8a9e", "window", "a", "line", "\U0001d11e"]
EXAMPLES = settings(max_examples=40, deadline=None)


@pytest.fixture(autouse=True)
def deadline():
    with time_limit(150):
        yield


def jsonl(rng, records, *, span="", bad=None, final_newline=True):
    """JSON Lines bytes: records sharing `span`, blank lines and CRLF among them, non-ASCII kept or escaped.

    `bad`: the index of a record whose field is misspelt (the bytes keep their length). Returns (bytes,
    [(record, line) of each record]).
    """
    lines, numbers = [], []
    for i in range(records):
        if rng.random() < 0.15:
            lines.append(rng.choice(["", "  ", "\t"]))
        text = " ".join(rng.choice(WORDS) for _ in range(rng.randrange(0, 40)))
        if span and rng.random() < 0.4:
            at = rng.randrange(len(text) + 1)
            text = text[:at] + span + text[at:]
        record = {"id": i, "txet" if i == bad else "text": text, "n": rng.random()}
        lines.append(json.dumps(record, ensure_ascii=rng.random() < 0.5) + ("\r" if rng.random() < 0.1 else ""))
        numbers.append((i + 1, len(lines)))
    content = "\n".join(lines) + ("\n" if final_newline else "")
    return content.encode("utf-8"), numbers


def line_spans(content):
    """(first byte, end) of each line of `content`, found from the offsets of the newlines."""
    bounds = [i for i in range(len(content)) if i == 0 or content[i - 1] == ord("\n")] + [len(content)]
    return list(zip(bounds, bounds[1:]))


def model_lines(content, start, end):
    """The lines of `content` whose first byte lies in [start, end)."""
    return [content[a:b] for a, b in line_spans(content) if start <= a and (end is None or a < end)]


def draw_pieces(data, content, most):
    """Pieces cut anywhere, and often a byte before, at or after the start of a line."""
    if len(content) < 2:
        return [(0, None)]
    starts = [a for a, _ in line_spans(content)]
    near = sorted({a + d for a in starts for d in (-1, 0, 1) if 0 < a + d < len(content)})
    anywhere = st.integers(1, len(content) - 1)
    cuts = sorted(data.draw(st.sets(st.one_of(anywhere, st.sampled_from(near)) if near else anywhere, max_size=most)))
    return list(zip([0, *cuts], [*cuts, None]))


# ----------------------------------------------------------------------------- planning


@given(shard_size=st.integers(1, 1 << 36), data=st.data())
def test_pieces_cover_the_input_and_none_is_over_the_size(shard_size, data):
    from veltrane._cluster_dedup_pieces import SMALLEST_PIECE, cut_points

    most = max(shard_size, SMALLEST_PIECE)
    size = data.draw(st.integers(0, 2000 * most))
    pieces = cut_points(size, shard_size)
    if size <= most:
        assert pieces == []
        return
    assert pieces[0][0] == 0 and pieces[-1][1] is None
    ends = [end for _, end in pieces[:-1]] + [size]
    assert all(end == start for (start, _), end in zip(pieces[1:], ends))  # each starts where the last ended
    lengths = [end - start for (start, _), end in zip(pieces, ends)]
    assert max(lengths) <= most and max(lengths) - min(lengths) <= 1
    assert len(pieces) == -(-size // most)  # no more pieces than the size asks for


def test_only_large_uncompressed_json_lines_inputs_are_split():
    from veltrane._cluster_dedup_pieces import SMALLEST_PIECE, Planned, plan_pieces

    big = 3 * SMALLEST_PIECE
    names = ["a.txt", "b.jsonl", "c.JSONL", "d.jsonl.gz", "e.parquet", "f.txt", "g.jsonl", "h.jsonl"]
    sizes = [10, big, big, big, big, 10, 10, big + 1]
    plan = plan_pieces(names, sizes, SMALLEST_PIECE, "text")
    assert plan[0] == Planned(("a.txt",), None, 0)
    assert [p.input for p in plan if p.cut] == [1, 1, 1, 2, 2, 2, 7, 7, 7, 7]
    assert [p.names for p in plan if not p.cut] == [("a.txt",), ("d.jsonl.gz",), ("e.parquet",), ("f.txt", "g.jsonl")]
    listed = [(p.input + k, name) for p in plan for k, name in enumerate(p.names)]
    assert listed == sorted(listed) and sorted(set(listed)) == list(enumerate(names))  # every input, in its place
    assert all(len(p.names) == 1 for p in plan if p.cut)
    assert all(p.cut is None for p in plan_pieces(names, sizes, SMALLEST_PIECE, None))  # no field: files, whole


# ----------------------------------------------------------------------------- reading and writing pieces


@EXAMPLES
@given(seed=st.integers(0, 1 << 30), final_newline=st.booleans(), data=st.data())
def test_pieces_read_and_write_what_the_whole_input_does(tmp_path_factory, seed, final_newline, data):
    from veltrane._cluster_dedup_write import ShardWrite, join_parts
    from veltrane._corpus_load import load_corpus, load_piece
    from veltrane._corpus_write import write_deduplicated

    root = tmp_path_factory.mktemp("pieces")
    content, _ = jsonl(random.Random(seed), data.draw(st.integers(0, 25)), final_newline=final_newline)
    path = root / "in.jsonl"
    path.write_bytes(content)
    pieces = draw_pieces(data, content, 8)
    if data.draw(st.booleans()):  # pieces past the end hold nothing
        pieces[-1:] = [(pieces[-1][0], len(content) + 1), (len(content) + 1, None)]

    def kept(document):  # keeps a prefix of whole characters
        text = bytes(document).decode("utf-8")
        return text[:len(text) * 2 // 3].encode("utf-8")

    whole = load_corpus([str(path)], field="text")
    read, writes = [], []
    for cut in pieces:
        piece, lines = load_piece(str(path), cut, "text")
        expected = [json.loads(line)["text"].encode("utf-8") for line in model_lines(content, *cut) if line.strip()]
        assert [bytes(piece.document(i)) for i in range(len(piece))] == expected
        assert lines == len(model_lines(content, *cut))
        read += expected
        summary = write_deduplicated(piece, str(root / "parts"), lambda i, p=piece: kept(p.document(i)), cut=cut)
        writes.append(ShardWrite(summary))
    assert read == [bytes(whole.document(i)) for i in range(len(whole))]  # every record once, in order
    joined = join_parts(str(root / "parts"), str(path), str(path), "text", [start for start, _ in pieces], writes)
    one_machine = write_deduplicated(whole, str(root / "whole"), lambda i: kept(whole.document(i)))
    assert joined == ShardWrite(one_machine)
    mirrored = str(path).lstrip("/")
    assert (root / "parts" / mirrored).read_bytes() == (root / "whole" / mirrored).read_bytes()
    assert sorted(p.name for p in (root / "parts" / mirrored).parent.iterdir()) == ["in.jsonl"]  # no part left


def test_pieces_of_a_url_input_are_read_and_written_as_the_whole_input():
    fsspec = pytest.importorskip("fsspec")
    from veltrane._cluster_dedup_write import ShardWrite, join_parts
    from veltrane._corpus_load import load_corpus, load_piece
    from veltrane._corpus_write import write_deduplicated

    content, _ = jsonl(random.Random(9), 60)
    root = f"memory://pieces-{random.randrange(1 << 40)}"
    with fsspec.open(f"{root}/in.jsonl", "wb") as f:
        f.write(content)
    whole = load_corpus([f"{root}/in.jsonl"], field="text")
    pieces = [(0, len(content) // 3), (len(content) // 3, len(content) // 2), (len(content) // 2, None)]
    read, writes = [], []
    for cut in pieces:
        piece, _ = load_piece(f"{root}/in.jsonl", cut, "text")
        read += [bytes(piece.document(i)) for i in range(len(piece))]
        writes.append(ShardWrite(write_deduplicated(piece, f"{root}/parts", lambda i: b"", cut=cut)))
    assert read == [bytes(whole.document(i)) for i in range(len(whole))]
    joined = join_parts(f"{root}/parts", f"{root}/in.jsonl", f"{root}/in.jsonl", "text",
                        [start for start, _ in pieces], writes)
    assert joined == ShardWrite(write_deduplicated(whole, f"{root}/whole", lambda i: b""))
    fs = fsspec.filesystem("memory")
    written = fs.find(f"{root}/parts")
    assert len(written) == 1 and fs.cat(written[0]) == fs.cat(written[0].replace("/parts/", "/whole/"))


def test_a_piece_not_written_leaves_its_input_unwritten(tmp_path):
    from veltrane._cluster_dedup_write import ShardWrite, join_parts
    from veltrane._corpus_outputs import part_path
    from veltrane._corpus_write import WriteSummary

    (tmp_path / "out").mkdir()
    (tmp_path / "out" / part_path("in.jsonl", 0)).write_bytes(b"{}\n")
    failed = ShardWrite(WriteSummary(0, 0, 0), (("in.jsonl", "changed since it was read; not written"),))
    done = join_parts(str(tmp_path / "out"), "in.jsonl", "in.jsonl", "text", [0, 40, 80],
                      [ShardWrite(WriteSummary(1, 1, 5)), failed, failed])
    assert done == ShardWrite(WriteSummary(0, 0, 0), failed.failed)  # once, and nothing counted
    assert list((tmp_path / "out").iterdir()) == []


def test_an_input_changed_since_its_pieces_were_read_is_not_written(tmp_path, monkeypatch):
    """Its bytes the same, its time not: refused once, in the one-machine writer's words, and nothing written."""
    from veltrane._cluster_dedup_text import ShardSource, first_state, forget, load, make_text
    from veltrane._cluster_dedup_write import join_parts, write_shard
    from veltrane._corpus_load import load_corpus
    from veltrane._corpus_write import write_deduplicated

    monkeypatch.chdir(tmp_path)
    content, _ = jsonl(random.Random(3), 30)
    (tmp_path / "in.jsonl").write_bytes(content)
    cuts = [(0, len(content) // 3), (len(content) // 3, None)]
    whole = load_corpus(["in.jsonl"], field="text")
    shards = [ShardSource(("in.jsonl",), str(tmp_path), "text", f"test-{tmp_path.name}", s, cut)
              for s, cut in enumerate(cuts)]
    try:
        loaded = [load(shard) for shard in shards]
        texts = [make_text(shard, done, first_state(done.info)) for shard, done in zip(shards, loaded)]
        os.utime("in.jsonl", ns=(0, 0))
        writes = [write_shard(*shard_text, "out", {}) for shard_text in zip(shards, loaded, texts)]
    finally:
        forget(shards[0].run)
    one_machine = []
    write_deduplicated(whole, "local", lambda i: whole.document(i), report=lambda *message: one_machine.append(message))
    done = join_parts("out", "in.jsonl", "in.jsonl", "text", [start for start, _ in cuts], writes)
    assert done.failed == tuple(one_machine) == (("in.jsonl", "changed since it was read; not written"),)
    assert list((tmp_path / "out").rglob("*.jsonl*")) == []


@EXAMPLES
@given(seed=st.integers(0, 1 << 30), data=st.data())
def test_a_bad_record_in_any_piece_is_the_one_machine_message(tmp_path_factory, seed, data):
    """Pieces loaded as the workers load them, settled as the client settles them."""
    root = tmp_path_factory.mktemp("bad")
    records = data.draw(st.integers(1, 20))
    content, _ = jsonl(random.Random(seed), records, bad=data.draw(st.integers(0, records - 1)))
    path = root / "in.jsonl"
    path.write_bytes(content)
    one_machine, settled, going_on = messages_of_pieces(root, path, draw_pieces(data, content, 6))
    assert settled == one_machine and len(one_machine) == 1 and going_on == []


def messages_of_pieces(root, path, pieces):
    """What the one-machine loader reports of the input at `path`, what the client settles from its `pieces`
    loaded as the workers load them, and the pieces that go on."""
    from veltrane._cluster_dedup_pieces import Planned, settle
    from veltrane._cluster_dedup_text import ShardSource, forget, load
    from veltrane._corpus_load import load_corpus

    one_machine, settled = [], []
    load_corpus([str(path)], field="text", report=lambda *message: one_machine.append(message))
    plan = [Planned((str(path),), cut, 0) for cut in pieces]
    run = f"test-{root.name}"
    try:
        infos = [load(ShardSource((str(path),), str(root), "text", run, s, cut)).info for s, cut in enumerate(pieces)]
    finally:
        forget(run)
    going_on = settle(plan, infos, lambda *message: settled.append(message))
    return one_machine, settled, going_on
