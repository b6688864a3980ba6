"""Parquet inputs larger than a shard, cut between row groups: the one-machine documents, messages and file.

Without a cluster: the cuts a survey makes are held to a model (runs of whole
row groups, none over a piece unless one group is), pieces cut at random to
the whole input read at once, the parts they write, joined, to the
one-machine writer's file byte for byte, and a null in any piece, settled as
the client settles it, to the one-machine loader's message. Every test bounds
its own time.
"""
import random

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from deadline import time_limit
from test_cluster_dedup_pieces import messages_of_pieces

pa = pytest.importorskip("pyarrow")
pq = pytest.importorskip("pyarrow.parquet")

EXAMPLES = settings(max_examples=25, deadline=None)
WORDS = ["row", "group", "\u00e9t\u00e9", "\u65e5\u672c", "column", "a"]


@pytest.fixture(autouse=True)
def deadline():
    with time_limit(150):
        yield


def parquet_input(path, rng, groups, *, binary=False, null=None, compression="snappy"):
    """A Parquet file of `groups` row groups of 0 to 12 rows (text, an id, a list column); `null`: a row whose text
    is null. Returns the texts, None for the null one."""
    kind = pa.binary() if binary else pa.string()
    schema = pa.schema([("id", pa.int64()), ("tags", pa.list_(pa.string())), ("text", kind)],
                       metadata={b"origin": b"test"})
    texts = []
    with pq.ParquetWriter(str(path), schema, compression=compression) as writer:
        for _ in range(groups):
            rows = rng.randrange(0, 13)
            column = []
            for _ in range(rows):
                text = " ".join(rng.choice(WORDS) for _ in range(rng.randrange(0, 30)))
                column.append(None if len(texts) == null else text.encode() if binary else text)
                texts.append(column[-1])
            table = pa.table({"id": list(range(len(texts) - rows, len(texts))),
                              "tags": [[rng.choice(WORDS)] for _ in range(rows)], "text": column}, schema=schema)
            writer.write_table(table, row_group_size=max(1, rows))
    return texts


# ----------------------------------------------------------------------------- where a survey cuts


@given(sizes=st.lists(st.integers(0, 100), max_size=30), piece=st.integers(1, 250))
def test_row_groups_are_cut_into_the_longest_runs_that_fit_a_piece(sizes, piece):
    """Each run fits, or is one group larger than a piece after empty ones; each ends only where the next would
    not fit; one run is no cut at all."""
    from veltrane._cluster_dedup_survey import group_cuts

    cuts = group_cuts(sizes, piece)
    bounds = [start for start, _ in cuts] + [len(sizes)] if cuts else [0, max(1, len(sizes))]
    assert bounds[0] == 0 and bounds == sorted(set(bounds)) and (not cuts or cuts[-1][1] is None)
    assert [end for _, end in cuts] == [*bounds[1:-1], None][:len(cuts)]
    for a, b in zip(bounds, bounds[1:]):
        run = sizes[a:b]
        assert sum(run) <= piece or sum(run[:-1]) == 0
        if b < len(sizes):
            assert sum(run) > 0 and sum(run) + sizes[b] > piece


# ----------------------------------------------------------------------------- reading and writing pieces


@EXAMPLES
@given(seed=st.integers(0, 1 << 30), binary=st.booleans(), compression=st.sampled_from(["snappy", "zstd", "none"]),
       data=st.data())
def test_pieces_read_and_write_what_the_whole_input_does(tmp_path_factory, seed, binary, compression, data):
    from veltrane._cluster_dedup_write import ShardWrite, join_parts
    from veltrane._corpus_load import load_corpus, load_piece
    from veltrane._corpus_write import write_deduplicated

    root = tmp_path_factory.mktemp("parquet")
    path = root / "in.parquet"
    groups = data.draw(st.integers(1, 8))
    texts = parquet_input(path, random.Random(seed), groups, binary=binary, compression=compression)
    cuts = sorted(data.draw(st.sets(st.integers(1, groups - 1), max_size=5))) if groups > 1 else []
    pieces = list(zip([0, *cuts], [*cuts, None]))

    def kept(document):  # keeps a prefix of whole characters
        text = bytes(document).decode("utf-8")
        return text[:len(text) // 2].encode("utf-8")

    whole = load_corpus([str(path)], field="text")
    assert [bytes(whole.document(i)) for i in range(len(whole))] == [t if binary else t.encode() for t in texts]
    read, writes = [], []
    for cut in pieces:
        piece, lines = load_piece(str(path), cut, "text")
        read += [bytes(piece.document(i)) for i in range(len(piece))]
        assert lines == len(piece)  # a row is its own line
        writes.append(ShardWrite(write_deduplicated(piece, str(root / "parts"), lambda i, p=piece: kept(p.document(i)),
                                                    cut=cut)))
    assert read == [bytes(whole.document(i)) for i in range(len(whole))]  # every row once, in order
    joined = join_parts(str(root / "parts"), str(path), str(path), "text", [start for start, _ in pieces], writes)
    assert joined == ShardWrite(write_deduplicated(whole, str(root / "whole"), lambda i: kept(whole.document(i))))
    mirrored = str(path).lstrip("/")
    assert (root / "parts" / mirrored).read_bytes() == (root / "whole" / mirrored).read_bytes()
    assert sorted(p.name for p in (root / "parts" / mirrored).parent.iterdir()) == ["in.parquet"]  # no part left


@EXAMPLES
@given(seed=st.integers(0, 1 << 30), data=st.data())
def test_a_null_in_any_piece_is_the_one_machine_message(tmp_path_factory, seed, data):
    """Pieces loaded as the workers load them, settled as the client settles them."""
    root = tmp_path_factory.mktemp("null")
    path = root / "in.parquet"
    groups = data.draw(st.integers(2, 8))
    rng = random.Random(seed)
    rows = len(parquet_input(path, random.Random(seed), groups))
    if rows == 0:
        return
    parquet_input(path, random.Random(seed), groups, null=rng.randrange(rows))
    cuts = sorted(data.draw(st.sets(st.integers(1, groups - 1), min_size=1, max_size=4)))
    one_machine, settled, going_on = messages_of_pieces(root, path, list(zip([0, *cuts], [*cuts, None])))
    assert settled == one_machine and len(one_machine) == 1 and ":" in one_machine[0][0] and going_on == []
