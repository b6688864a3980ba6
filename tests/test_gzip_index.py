"""The gzip checkpoint index against Python's gzip module.

Files are made by `gzip.compress`, `GzipFile(mtime=0)` and zlib's compressor with full
flushes (many block boundaries in little text), alone or as several members with zero bytes
between and after. Whatever `gzip.decompress` decodes must be indexed with the same size,
and from every checkpoint the reader must give exactly the rest of that text, whole and line
by line; whatever it refuses must be refused. A file changed after indexing makes the reader
raise BadGzipFile.
"""
import gzip
import io
import random
import zlib

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from veltrane._gzip_index import CHUNK_SIZE, Checkpoint, GzipIndex, index_gzip, open_at

WINDOW = 32768


def jsonl_text(seed, size):
    rng = random.Random(seed)
    lines, total = [], 0
    while total < size:
        line = b'{"id": %d, "text": "%s"}\n' % (rng.randrange(10**6), b" ".join(
            rng.choice([b"alpha", b"beta", b"gamma", b"entropy", b"block", "\u00e9t\u00e9".encode()])
            for _ in range(rng.randrange(1, 30))))
        lines.append(line)
        total += len(line)
    return b"".join(lines)[:size]


def random_bytes(seed, size):
    return random.Random(seed).randbytes(size)


def member(text, how, level, seed):
    if how == "compress":
        return gzip.compress(text, compresslevel=level, mtime=0)
    if how == "gzipfile":
        out = io.BytesIO()
        with gzip.GzipFile(fileobj=out, mode="wb", compresslevel=level, mtime=0) as f:
            f.write(text)
        return out.getvalue()
    rng = random.Random(seed)  # zlib with full flushes at random places: boundaries in short texts
    c = zlib.compressobj(level, zlib.DEFLATED, 31)
    cuts = sorted(rng.randrange(len(text) + 1) for _ in range(8))
    parts, at = [], 0
    for cut in cuts:
        parts += [c.compress(text[at:cut]), c.flush(zlib.Z_FULL_FLUSH)]
        at = cut
    return b"".join(parts + [c.compress(text[at:]), c.flush()])


member_plans = st.lists(
    st.tuples(st.sampled_from(["jsonl", "random", "empty"]), st.integers(0, 300_000), st.integers(0, 2**32),
              st.sampled_from(["compress", "gzipfile", "flushed"]), st.sampled_from([0, 1, 6, 9]),
              st.sampled_from([0, 0, 1, 500])),
    min_size=1, max_size=3)


def build(plans):
    whole, text, member_starts = b"", b"", []
    for kind, size, seed, how, level, zeros in plans:
        piece = {"jsonl": jsonl_text, "random": random_bytes, "empty": lambda s, n: b""}[kind](seed, size // 3 if
                                                                                           kind == "random" else size)
        member_starts.append(len(whole))
        whole += member(piece, how, level, seed) + bytes(zeros)
        text += piece
    return whole, text, member_starts


def lines_of(text):
    """Lines as binary streams cut them: after each b"\n", the last one unterminated."""
    parts = text.split(b"\n")
    return [p + b"\n" for p in parts[:-1]] + ([parts[-1]] if parts[-1] else [])


def read_at(whole, checkpoint):
    with open_at(io.BytesIO(whole), checkpoint) as reader:
        return reader.read()


def check_index(index, text, spacing):
    assert isinstance(index, GzipIndex) and index.size == len(text)
    previous_k = 0
    for c in index.checkpoints:
        assert 0 < c.position < len(text)
        k = c.position // spacing  # the multiples of spacing it serves end at k: at most one per k
        assert k > previous_k
        previous_k = k
        assert 0 <= c.bits <= 7 and 0 <= c.value < 2**c.bits
        assert c.window == text[max(0, c.position - WINDOW):c.position]


@settings(max_examples=30, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(member_plans, st.sampled_from([1, 1000, 65536, 200_000, 10**12]))
def test_every_checkpoint_reads_the_rest_of_the_text(plans, spacing):
    whole, text, _ = build(plans)
    assert gzip.decompress(whole) == text
    index = index_gzip(io.BytesIO(whole), spacing)
    check_index(index, text, spacing)
    chosen = index.checkpoints[:: max(1, len(index.checkpoints) // 12)] + index.checkpoints[-1:]
    for c in chosen:
        assert read_at(whole, c) == text[c.position:]
    if chosen:
        c = chosen[len(chosen) // 2]
        with open_at(io.BytesIO(whole), c) as reader:
            assert list(reader) == lines_of(text[c.position:])
        with open_at(io.BytesIO(whole), c) as reader:  # small reads across the buffer's edges
            pieces = iter(lambda: reader.read(777), b"")
            assert b"".join(pieces) == text[c.position:]


def test_checkpoints_are_where_the_spacing_puts_them():
    # Full flushes every 1000 bytes: a block boundary at each, so the checkpoints of spacing
    # 2500 are exactly the first flush at or past each multiple.
    text = jsonl_text(7, 100_000)
    c = zlib.compressobj(6, zlib.DEFLATED, 31)
    whole = b"".join(c.compress(text[i:i + 1000]) + c.flush(zlib.Z_FULL_FLUSH) for i in range(0, len(text), 1000))
    whole += c.flush()
    index = index_gzip(io.BytesIO(whole), 2500)
    positions = [cp.position for cp in index.checkpoints]
    expected = sorted({-(-k * 2500 // 1000) * 1000 for k in range(1, len(text) // 2500 + 1)} - {len(text)})
    assert positions == expected


def test_empty_files_and_members():
    assert index_gzip(io.BytesIO(b""), 10) == GzipIndex(0, ())
    assert index_gzip(io.BytesIO(gzip.compress(b"") * 3 + bytes(9)), 10) == GzipIndex(0, ())
    for not_gzip in (b"\0", bytes(100), b"\0" + gzip.compress(b"x"), b"plain text"):
        with pytest.raises((gzip.BadGzipFile, EOFError, OSError)):
            gzip.decompress(not_gzip)
        assert isinstance(index_gzip(io.BytesIO(not_gzip), 10), str)


def python_refuses(data):
    try:
        gzip.decompress(data)
    except (gzip.BadGzipFile, EOFError, zlib.error):
        return True
    return False


def test_refuses_every_truncation_python_refuses():
    whole, text, _ = build([("jsonl", 3000, 1, "compress", 6, 2), ("random", 300, 2, "flushed", 1, 0),
                            ("jsonl", 2000, 3, "gzipfile", 9, 0)])
    for length in range(len(whole) + 1):
        cut = whole[:length]
        index = index_gzip(io.BytesIO(cut), 500)
        if python_refuses(cut):
            assert isinstance(index, str) and index
        else:
            assert isinstance(index, GzipIndex) and index.size == len(gzip.decompress(cut))


@settings(max_examples=200, deadline=None)
@given(st.data())
def test_damage_is_refused_as_python_refuses_it(data):
    whole, text, starts = build([("jsonl", 20_000, 5, "compress", 6, 3), ("jsonl", 9_000, 6, "flushed", 1, 0)])
    where = data.draw(st.integers(0, len(whole) - 1))
    damaged = bytearray(whole)
    damaged[where] ^= data.draw(st.integers(1, 255))
    damaged = bytes(damaged) + data.draw(st.sampled_from([b"", b"", b"\0\0", b"x", b"\x1f", b"\x1f\x8b"]))
    index = index_gzip(io.BytesIO(damaged), 4000)
    if python_refuses(damaged):
        assert isinstance(index, str)
    elif where not in [s + 3 for s in starts]:
        # Python skips a header's flag byte's reserved bits and header CRC, zlib checks
        # them: only there may the index refuse what Python reads.
        assert isinstance(index, GzipIndex) and index.size == len(gzip.decompress(damaged))


def test_trailer_damage_and_trailing_garbage():
    whole, _, _ = build([("jsonl", 50_000, 8, "compress", 6, 0), ("jsonl", 50_000, 9, "compress", 6, 0)])
    first_end = len(gzip.compress(jsonl_text(8, 50_000), compresslevel=6, mtime=0))
    for end in (first_end, len(whole)):
        for i in range(end - 8, end):
            damaged = bytearray(whole)
            damaged[i] ^= 0x5A
            assert python_refuses(bytes(damaged))
            assert "check" in index_gzip(io.BytesIO(bytes(damaged)), 4096)
    for tail in (b"\x01", b"\0\0garbage", b"\x1f", b"\x1f\x8b\x08"):
        assert python_refuses(whole + tail) and isinstance(index_gzip(io.BytesIO(whole + tail), 4096), str)
    assert index_gzip(io.BytesIO(whole + bytes(1000)), 4096).size == 100_000


def test_a_file_changed_after_indexing_is_a_bad_gzip_file():
    parts = [random_bytes(s, 200_000) for s in (11, 12, 13)]
    members = [gzip.compress(p, mtime=0) for p in parts]
    whole = b"".join(members)
    first = index_gzip(io.BytesIO(whole), 50_000).checkpoints[0]
    assert first.offset < len(members[0])  # inside the first member: the later CRCs are checked

    def flipped(at):
        return whole[:at] + bytes([whole[at] ^ 1]) + whole[at + 1:]

    second_end, third_end = len(members[0]) + len(members[1]), len(whole)
    for changed in (flipped(second_end - 7), flipped(third_end - 2), flipped(second_end + 20), whole[:-1],
                    whole[:len(members[0]) - 3], whole[:second_end + 5], whole + b"junk"):
        with pytest.raises(gzip.BadGzipFile, match="corrupt|truncated"):
            read_at(changed, first)
    with open_at(io.BytesIO(whole[:-100]), first) as reader:
        with pytest.raises(gzip.BadGzipFile, match="truncated"):
            for _ in reader:
                pass


def test_reads_in_chunks_and_stops_at_the_first_sign_of_trouble():
    class Counting(io.BytesIO):
        def __init__(self, data):
            super().__init__(data)
            self.sizes = []

        def read(self, size=-1):
            chunk = super().read(size)
            self.sizes.append(len(chunk))
            return chunk

    good = Counting(gzip.compress(random_bytes(3, 3 * CHUNK_SIZE), compresslevel=1))
    assert index_gzip(good, CHUNK_SIZE).size == 3 * CHUNK_SIZE
    assert max(good.sizes) <= CHUNK_SIZE
    bad = Counting(b"not gzip" + bytes(5 * CHUNK_SIZE))
    assert "header" in index_gzip(bad, CHUNK_SIZE)
    assert len(bad.sizes) == 1


def test_bad_arguments_are_named():
    whole = gzip.compress(jsonl_text(4, 300_000))
    for spacing, error in ((0, ValueError), (-5, ValueError), (True, TypeError), (1.5, TypeError), ("9", TypeError)):
        with pytest.raises(error, match="spacing"):
            index_gzip(io.BytesIO(whole), spacing)
    good = index_gzip(io.BytesIO(whole), 100_000).checkpoints[0]
    with pytest.raises(TypeError, match="Checkpoint"):
        open_at(io.BytesIO(whole), (good.position, good.offset))
    for field, value, pattern in (("bits", 9, "bits .* 9"), ("bits", -1, "bits .*-1"), ("value", 1 << good.bits, "value"),
                                  ("window", good.window[1:], "window"), ("position", -3, "position .*-3"),
                                  ("value", 10**30, "value")):
        bad = Checkpoint(**{**good.__dict__, field: value})
        with pytest.raises(ValueError, match=pattern):
            open_at(io.BytesIO(whole), bad)
