"""gzip JSON Lines inputs cut at checkpoints: the one-machine documents, messages and file wherever the cuts fall.

Without a cluster: a gzip input whose deflate blocks end where the test
chooses (often a byte before, at or after a line's start, or inside a
character) is indexed, cut at checkpoints chosen at random, and each piece,
read from its checkpoint, is held to the model of test_cluster_dedup_pieces.py
(a line belongs to the piece holding its first byte); the parts written,
joined, to the one-machine writer's file byte for byte; the cuts a survey makes
to equal pieces. Every test bounds its own time.
"""
import gzip
import random
import zlib

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from deadline import time_limit
from test_cluster_dedup_pieces import jsonl, line_spans, model_lines

EXAMPLES = settings(max_examples=30, deadline=None)


@pytest.fixture(autouse=True)
def deadline():
    with time_limit(150):
        yield


def member(data, ends, level=6):
    """A gzip member of `data` whose deflate stream ends a block at each of `ends` (text offsets)."""
    compressor = zlib.compressobj(level, zlib.DEFLATED, 31)
    parts, at = [], 0
    for end in sorted(set(ends)):
        parts += [compressor.compress(data[at:end]), compressor.flush(zlib.Z_BLOCK)]
        at = end
    return b"".join(parts) + compressor.compress(data[at:]) + compressor.flush()


def draw_block_ends(data, content):
    """Block ends anywhere, and often a byte before, at or after the start of a line."""
    if len(content) < 2:
        return []
    starts = [a for a, _ in line_spans(content)]
    near = sorted({a + d for a in starts for d in (-1, 0, 1) if 0 < a + d < len(content)})
    anywhere = st.integers(1, len(content) - 1)
    return sorted(data.draw(st.sets(st.one_of(anywhere, st.sampled_from(near)) if near else anywhere,
                                    max_size=12)))


@EXAMPLES
@given(seed=st.integers(0, 1 << 30), final_newline=st.booleans(), two_members=st.booleans(), data=st.data())
def test_pieces_from_checkpoints_read_and_write_what_the_whole_input_does(tmp_path_factory, seed, final_newline,
                                                                          two_members, data):
    from veltrane._cluster_dedup_write import ShardWrite, join_parts
    from veltrane._corpus_load import load_corpus, load_piece
    from veltrane._corpus_write import write_deduplicated
    from veltrane._gzip_index import index_gzip

    root = tmp_path_factory.mktemp("gzpieces")
    content, _ = jsonl(random.Random(seed), data.draw(st.integers(0, 25)), final_newline=final_newline)
    ends = draw_block_ends(data, content)
    split = data.draw(st.integers(0, len(content))) if two_members else len(content)
    compressed = (member(content[:split], [e for e in ends if e < split])
                  + (member(content[split:], [e - split for e in ends if e > split], 9) if two_members else b""))
    assert gzip.decompress(compressed) == content
    path = root / "in.jsonl.gz"
    path.write_bytes(compressed)
    with open(path, "rb") as handle:
        index = index_gzip(handle, 1)
    assert not isinstance(index, str), index
    chosen = sorted(data.draw(st.sets(st.sampled_from(index.checkpoints), max_size=6)) if index.checkpoints else [],
                    key=lambda c: c.position)
    starts = [0, *(c.position for c in chosen)]
    pieces = list(zip(starts, [*starts[1:], None]))

    def kept(document):  # keeps a prefix of whole characters
        text = bytes(document).decode("utf-8")
        return text[:len(text) * 2 // 3].encode("utf-8")

    whole = load_corpus([str(path)], field="text")
    read, writes = [], []
    for cut, resume in zip(pieces, [None, *chosen]):
        piece, lines = load_piece(str(path), cut, "text", resume)
        expected = [__import__("json").loads(line)["text"].encode("utf-8")
                    for line in model_lines(content, *cut) if line.strip()]
        assert [bytes(piece.document(i)) for i in range(len(piece))] == expected, cut
        assert lines == len(model_lines(content, *cut))
        read += expected
        summary = write_deduplicated(piece, str(root / "parts"), lambda i, p=piece: kept(p.document(i)), cut=cut,
                                     resume=resume)
        writes.append(ShardWrite(summary))
    assert read == [bytes(whole.document(i)) for i in range(len(whole))]  # every record once, in order
    joined = join_parts(str(root / "parts"), str(path), str(path), "text", [start for start, _ in pieces], writes)
    assert joined == ShardWrite(write_deduplicated(whole, str(root / "whole"), lambda i: kept(whole.document(i))))
    mirrored = str(path).lstrip("/")
    assert (root / "parts" / mirrored).read_bytes() == (root / "whole" / mirrored).read_bytes()
    assert sorted(p.name for p in (root / "parts" / mirrored).parent.iterdir()) == ["in.jsonl.gz"]  # no part left


@given(size=st.integers(0, 10 ** 6), piece=st.integers(1, 10 ** 5), gaps=st.lists(st.integers(1, 40_000),
                                                                                    max_size=200))
def test_a_survey_cuts_about_equal_pieces_at_checkpoints(size, piece, gaps):
    """Cut at checkpoints only, increasing, none at 0; no piece over a piece's size and the checkpoints' gap."""
    from veltrane._cluster_dedup_survey import gzip_cuts
    from veltrane._gzip_index import Checkpoint, GzipIndex

    positions, at = [], 0
    for gap in gaps:
        at += gap
        if at >= size:
            break
        positions.append(at)
    index = GzipIndex(size, tuple(Checkpoint(p, p, 0, 0, b"") for p in positions))
    survey = gzip_cuts(index, piece)
    if not survey.cuts:
        return
    starts = [start for start, _ in survey.cuts]
    assert starts[0] == 0 and starts[1:] == [r.position for r in survey.resumes[1:]] and survey.resumes[0] is None
    assert set(starts[1:]) <= set(positions) and starts == sorted(set(starts))
    assert [end for _, end in survey.cuts] == [*starts[1:], None]
    widest = max([b - a for a, b in zip([0, *positions], [*positions, size])] + [0])
    bounds = [*starts, size]
    assert all(b - a <= piece + widest for a, b in zip(bounds, bounds[1:]))


def test_an_input_a_survey_cannot_read_stays_whole(tmp_path):
    """Damaged gzip, bytes after the last member, a Parquet file that is none or lacks the column: no cut, so the
    loader meets the problem and words it as one machine does."""
    from veltrane._cluster_dedup_survey import survey

    content, _ = jsonl(random.Random(2), 300)
    good = member(content, range(500, len(content), 500))
    damaged = bytearray(good)
    damaged[len(good) // 2] ^= 0xFF
    cases = {"damaged.jsonl.gz": bytes(damaged), "trailing.jsonl.gz": good + b"junk",
             "truncated.jsonl.gz": good[:-3], "not.parquet": content}
    for name, data in cases.items():
        (tmp_path / name).write_bytes(data)
        assert survey(str(tmp_path / name), "text", 2000).cuts == (), name
    (tmp_path / "good.jsonl.gz").write_bytes(good)
    assert len(survey(str(tmp_path / "good.jsonl.gz"), "text", 2000).cuts) > 5
    assert survey(str(tmp_path / "missing.jsonl.gz"), "text", 2000).cuts == ()
