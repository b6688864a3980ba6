"""`veltrane.repeats` against a brute-force statement of its definition, the fragment search and real files."""
import math
import os
import sys
from collections import Counter

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _veltrane
import veltrane

FIND = _veltrane.strings_frag.find_non_overlapping_fragments


def greedy_starts(seq, w):
    """Occurrences of w chosen left to right without overlap."""
    starts, i, n, k = [], 0, len(seq), len(w)
    while i + k <= n:
        if seq[i : i + k] == w:
            starts.append(i)
            i += k
        else:
            i += 1
    return starts


def smallest_period(w):
    return next(p for p in range(1, len(w) + 1) if all(w[i] == w[i + p] for i in range(len(w) - p)))


def entropy(w):
    counts = Counter(w)
    return -sum(c / len(w) * math.log2(c / len(w)) for c in counts.values())


def model(seq, top=20, min_count=2, min_length=4, max_length=None, rank="savings", maximal=True,
          exclude_periodic=True, min_entropy=None, non_overlap=True):
    """Every fragment, the filters, the rank and the walk, as the definition states them."""
    seq = tuple(seq)
    n = len(seq)
    longest = n if max_length is None else min(max_length, n)
    g = {}
    for length in range(1, n + 1):
        for i in range(n - length + 1):
            w = seq[i : i + length]
            if w not in g:
                g[w] = greedy_starts(seq, w)
    candidates = []
    for w, starts in g.items():
        if not (min_length <= len(w) <= longest and len(starts) >= min_count):
            continue
        if maximal and any(len(x) <= longest and len(g.get(x, [])) == len(starts)
                           for a in set(seq) for x in ((a,) + w, w + (a,))):
            continue
        if exclude_periodic and smallest_period(w) <= len(w) / 2:
            continue
        if min_entropy is not None and entropy(w) < min_entropy:
            continue
        k, size = len(starts), len(w)
        key = ((k - 1) * size, size, k) if rank == "savings" else (k * size, size, k)
        candidates.append((key, starts[0], w, starts))
    candidates.sort(key=lambda c: (tuple(-x for x in c[0]), c[1]))
    taken, kept = set(), []
    for key, first, w, starts in candidates:
        if top is not None and len(kept) >= top:
            break
        positions = {s + j for s in starts for j in range(len(w))}
        if non_overlap and positions & taken:
            continue
        taken |= positions
        kept.append((len(w), len(starts), key[0], first, tuple(starts)))
    return kept


def observed(result):
    return [(r.length, r.count, r.score, r.first, r.starts) for r in result]


options = st.fixed_dictionaries({
    "top": st.sampled_from([None, 1, 3]), "min_count": st.integers(1, 3), "min_length": st.integers(1, 3),
    "max_length": st.sampled_from([None, 2, 5]), "rank": st.sampled_from(["savings", "coverage"]),
    "maximal": st.booleans(), "exclude_periodic": st.booleans(), "min_entropy": st.sampled_from([None, 0.5, 1.0]),
    "non_overlap": st.booleans(),
})


@settings(max_examples=300, deadline=None)
@given(st.text(alphabet="ab#", max_size=11), options)
def test_against_the_definition(text, chosen):
    if chosen["max_length"] is not None and chosen["max_length"] < chosen["min_length"]:
        chosen["max_length"] = chosen["min_length"]
    want = model(text, **chosen)
    assert observed(veltrane.repeats(text, **chosen)) == want
    assert observed(veltrane.repeats(text.encode(), **chosen)) == want  # one byte per element here


def test_pitfall_strings_and_code_points_beyond_the_basic_plane():
    for text in ("#a#a##a#a", "aaaa#aaaa", "a" * 12, "ab" * 6, "🙂x🙂x🙂🙂x🙂", "\x00\U0010ffff" * 4 + "\x00"):
        for chosen in ({}, {"min_length": 1}, {"min_length": 1, "maximal": False, "exclude_periodic": False}):
            assert observed(veltrane.repeats(text, **chosen)) == model(text, **chosen), (text, chosen)
    # "#a#" is a classical maximal repeat of "#a#a##a#a", but its greedy count equals that of "#a#a".
    assert all(r.length != 3 for r in veltrane.repeats("#a#a##a#a", min_length=1))


@settings(max_examples=150, deadline=None)
@given(st.binary(max_size=60) | st.text(alphabet="abc", max_size=60), st.integers(0, 6), st.integers(1, 3),
       st.booleans())
def test_with_the_old_options_it_is_the_fragment_search(data, count, times, glob):
    same = veltrane.repeats(data, top=count, min_count=times, min_length=1, maximal=False, exclude_periodic=False,
                            rank="coverage", non_overlap=glob)
    assert same.to_records() == FIND(data, count, times, glob)


def real_files():
    here = os.path.dirname(os.path.abspath(__file__))
    return [sys.executable, os.path.join(here, "..", "README.md"), os.path.join(here, "test_repeats.py")]


@pytest.mark.parametrize("path", real_files(), ids=os.path.basename)
@pytest.mark.parametrize("non_overlap", [True, False])
def test_invariants_on_real_files(path, non_overlap):
    data = open(path, "rb").read()[: 2 << 20]
    found = veltrane.repeats(data, top=50, non_overlap=non_overlap, min_entropy=1.0)
    taken = set()
    for r in found:
        assert r.count >= 2 and r.length >= 4 and not r.truncated and len(r.starts) == r.count
        assert list(r.starts) == sorted(r.starts) and all(b - a >= r.length for a, b in zip(r.starts, r.starts[1:]))
        piece = data[r.first : r.first + r.length]
        assert all(data[s : s + r.length] == piece for s in r.starts)
        assert entropy(piece) >= 1.0 and smallest_period(piece) > r.length / 2
        assert r.score == (r.count - 1) * r.length
        covered = {s + j for s in r.starts for j in range(r.length)}
        if non_overlap:
            assert not covered & taken
        taken |= covered
    scores = [(r.score, r.length, r.count) for r in found]
    assert scores == sorted(scores, reverse=True)


def test_compact_columns_and_truncated_starts():
    numpy = pytest.importorskip("numpy")
    data = (b"needle in a haystack; " * 300) + os.urandom(1000)
    full = veltrane.repeats(data, top=5)
    cut = veltrane.repeats(data, top=5, max_starts=3)
    assert [(r.length, r.count, r.score) for r in cut] == [(r.length, r.count, r.score) for r in full]
    assert all(r.starts == f.starts[:3] and r.truncated == (f.count > 3) for r, f in zip(cut, full))
    starts = numpy.asarray(full.starts)  # a view of the engine's buffer, not a copy
    assert starts.dtype == numpy.uint64 and not starts.flags.owndata
    assert list(numpy.asarray(full.offsets)) == [0, *numpy.cumsum(numpy.asarray(full.counts))]
    words = veltrane.repeats(open(real_files()[1], "rb").read(), top=5)
    assert len(words) == 5 and words[-1] == words[4] and words[:2] == [words[0], words[1]]
    import pickle
    assert pickle.loads(pickle.dumps(words)) == words  # results travel to and from worker processes


def test_filters_say_what_they_left_out_and_bad_options_are_refused():
    zeros = veltrane.repeats(bytes(5000) + b"payload" * 3)
    assert all(r.length >= 4 for r in zeros)
    assert zeros.left_out.periodic > 0  # the zero run's lengths, every one periodic
    raw = veltrane.repeats(bytes(5000), maximal=False, exclude_periodic=False, rank="coverage")
    assert raw[0].length == 2500 and raw[0].count == 2
    for bad, message in [({"min_count": 0}, "min_count must be at least 1"),
                         ({"top": -1}, "top must not be negative, not -1"),
                         ({"max_length": 3}, "max_length (3) must be at least min_length (4)"),
                         ({"rank": "size"}, 'rank must be "savings" or "coverage", not "size"'),
                         ({"min_entropy": -0.5}, "min_entropy must be a number of bits per element, 0 or more")]:
        with pytest.raises(ValueError) as info:
            veltrane.repeats(b"abcabc", **bad)
        assert str(info.value) == message
    with pytest.raises(UnicodeDecodeError):
        veltrane.repeats(b"\xff\xfe", text=True)


def test_text_positions_count_code_points():
    text = "naïve café naïve café 🙂🙂🙂 naïve"
    found = veltrane.repeats(text, min_length=3)
    assert found.unit == "code points"
    assert all(text[s : s + r.length] == text[r.first : r.first + r.length] for r in found for s in r.starts)
    assert observed(veltrane.repeats(text.encode(), text=True, min_length=3)) == observed(found)
