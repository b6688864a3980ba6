"""A shard's text between the steps of a cluster deduplication: from the scratch file its step left, or made
again from the shard's inputs and its pieces when the file is gone (its worker lost, or the step elsewhere).

Each text is held to a model that applies the pieces byte by byte to the documents as written.
"""
import array
import random
import tempfile

import pytest

from veltrane._cluster_dedup_text import ShardSource, ShardState, first_state, load, make_text, store
from veltrane._corpus_sources import InputError


def model_text(documents, pieces):
    """(bytes, offsets) of what `pieces` (at, origin, size) keep of `documents`, document by document."""
    starts = [0]
    for document in documents:
        starts.append(starts[-1] + len(document))
    whole = b"".join(documents)
    kept = bytearray()
    offsets = [0]
    for begin, end in zip(starts, starts[1:]):
        for at, origin, size in pieces:
            lo, hi = max(origin, begin), min(origin + size, end)
            if lo < hi:
                kept += whole[lo:hi]
        offsets.append(len(kept))
    return bytes(kept), array.array("Q", offsets).tobytes()


def random_pieces(rng, size):
    """Ascending, apart or touching, within [0, size): (at, origin, size) triples tiling the kept text."""
    pieces, at, origin = [], 0, 0
    while origin < size:
        origin += rng.randrange(0, 6)
        length = min(rng.randrange(1, 9), size - origin)
        if length <= 0:
            break
        pieces.append((at, origin, length))
        at, origin = at + length, origin + length
    return pieces


@pytest.fixture
def shard(tmp_path, monkeypatch):
    monkeypatch.setattr(tempfile, "tempdir", str(tmp_path / "scratch"))  # no worker: scratch files go here
    (tmp_path / "scratch").mkdir()
    rng = random.Random(11)
    documents = [bytes(rng.choice(b"abc\xc3\xa9\n") for _ in range(rng.randrange(0, 40))) for _ in range(7)]
    for i, document in enumerate(documents):
        (tmp_path / f"d{i}.txt").write_bytes(document)
    source = ShardSource(tuple(f"d{i}.txt" for i in range(7)), str(tmp_path), None, "run", 3)
    return source, documents


def test_the_text_as_loaded_comes_from_the_scratch_file_once_then_from_the_inputs(shard, tmp_path):
    source, documents = shard
    loaded = load(source)
    assert loaded.info.documents == 7 and loaded.info.size == sum(map(len, documents))
    expected = model_text(documents, [(0, 0, loaded.info.size)])
    scratch = list((tmp_path / "scratch").rglob("shard-3-0"))
    assert len(scratch) == 1
    first = make_text(source, loaded, first_state(loaded.info))
    assert (first.data, first.offsets) == expected
    assert not scratch[0].exists()  # taken: the text is a result of its own now
    again = make_text(source, loaded, first_state(loaded.info))  # no file: the inputs read again
    assert (again.data, again.offsets) == expected


def test_a_later_text_is_made_again_from_the_pieces_against_a_model(shard):
    source, documents = shard
    loaded = load(source)
    rng = random.Random(5)
    for version in range(1, 30):
        pieces = random_pieces(rng, loaded.info.size)
        data, offsets = model_text(documents, pieces)
        state = ShardState(version, len(data), array.array("Q", [w for p in pieces for w in p]).tobytes(), b"")
        made = make_text(source, loaded, state)
        assert (made.data, made.offsets) == (data, offsets), pieces
        # What a step that removed bytes leaves for the next one on its worker is taken as it stands.
        store(source, version, data, offsets)
        taken = make_text(source, loaded, state)
        assert (taken.data, taken.offsets) == (data, offsets)


def test_an_input_changed_since_it_was_read_stops_the_run(shard, tmp_path):
    source, documents = shard
    loaded = load(source)
    make_text(source, loaded, first_state(loaded.info))  # the scratch copy goes
    (tmp_path / "d2.txt").write_bytes(documents[2] + b"more")
    with pytest.raises(InputError, match="changed since it was read"):
        make_text(source, loaded, first_state(loaded.info))
