"""The repeated-fragment search: worked examples, a model, invariants, failures."""
import random

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from _veltrane import strings_frag
from conftest import UNDER_SANITIZER
from fragment_model import search as model_search

find = strings_frag.find_non_overlapping_fragments
MAX_COUNT = 2**64 - 1


def intervals(result):
    return [[(o["start"], o["end"]) for o in f["occurrences"]] for f in result]


@pytest.mark.parametrize("data", ["", b"", [], "abc", b"abc"])
@pytest.mark.parametrize("count, times", [(0, 2), (10, 0), (10, 4), (MAX_COUNT, MAX_COUNT)])
def test_early_exits(data, count, times):
    # Empty input, count 0, times 0 and times > n all return nothing in either mode.
    assert find(data, count, times, False) == []
    assert find(data, count, times, True) == []


@pytest.mark.parametrize(
    "data, times, glob, expected",
    [
        ("abcabc", 2, False, [[(0, 3), (3, 6)], [(0, 2), (3, 5)], [(1, 3), (4, 6)], [(0, 1), (3, 4)], [(1, 2), (4, 5)],
                              [(2, 3), (5, 6)]]),
        ("abcabc", 2, True, [[(0, 3), (3, 6)]]),
        ("aaaa", 2, False, [[(0, 2), (2, 4)], [(0, 1), (1, 2), (2, 3), (3, 4)]]),
        ("aaaa", 2, True, [[(0, 2), (2, 4)]]),
        ("aaaxy", 2, False, [[(0, 1), (1, 2), (2, 3)]]),
        ("aaa", 2, False, [[(0, 1), (1, 2), (2, 3)]]),
        ("ababxaya", 2, False, [[(0, 2), (2, 4)], [(0, 1), (2, 3), (5, 6), (7, 8)], [(1, 2), (3, 4)]]),
        ("ababxaya", 2, True, [[(0, 2), (2, 4)]]),
        ("abcabcdd", 2, True, [[(0, 3), (3, 6)], [(6, 7), (7, 8)]]),
        ("abcabca", 2, True, [[(0, 3), (3, 6)]]),  # tie with "bca": the earlier first occurrence wins
        ("éé", 2, False, [[(0, 1), (1, 2)]]),
        ("éé".encode(), 2, False, [[(0, 2), (2, 4)], [(0, 1), (2, 3)], [(1, 2), (3, 4)]]),
        ("abc", 2, False, []),
        ("abcd", 4, False, []),
        ("zzzz", 4, False, [[(0, 1), (1, 2), (2, 3), (3, 4)]]),
    ],
)
def test_worked_examples(data, times, glob, expected):
    result = find(data, 10, times, glob)
    assert [f["id"] for f in result] == list(range(len(result)))
    assert intervals(result) == expected
    assert result == model_search(list(data), 10, times, glob)


def test_result_shape():
    result = find(b"abab", 5, 2, False)
    assert type(result) is list
    for entry in result:
        assert type(entry) is dict and list(entry) == ["id", "occurrences"]
        assert type(entry["occurrences"]) is list
        for occurrence in entry["occurrences"]:
            assert type(occurrence) is dict and list(occurrence) == ["start", "end"]
    # No object is shared between two places of the result.
    ids = [id(o) for e in result for o in e["occurrences"]] + [id(e["occurrences"]) for e in result]
    assert len(ids) == len(set(ids))


@pytest.mark.parametrize("data", ["x", "hello world", b"\x00\xff\x00", "🙂a🙂"])
def test_times_one_puts_the_whole_input_first(data):
    n = len(data)
    assert find(data, 1, 1, False) == [{"id": 0, "occurrences": [{"start": 0, "end": n}]}]
    assert find(data, MAX_COUNT, 1, True) == [{"id": 0, "occurrences": [{"start": 0, "end": n}]}]


def test_huge_count_is_like_exact_count():
    everything = find("mississippi", MAX_COUNT, 2, False)
    assert find("mississippi", len(everything), 2, False) == everything
    assert find("mississippi", True, 2, False) == everything[:1]


ALPHABETS = [
    "ab",
    "abc",
    "a\U0001F600",  # outside the Basic Multilingual Plane
    "\x00\U0010FFFF",
    "aé文",
]


@st.composite
def search_inputs(draw):
    kind = draw(st.sampled_from(["text", "bytes", "list"]))
    if kind == "text":
        alphabet = draw(st.sampled_from(ALPHABETS))
        data = draw(st.text(alphabet=alphabet, max_size=24))
        seq = list(data)
    else:
        data = draw(st.lists(st.integers(0, draw(st.sampled_from([1, 2, 255]))), max_size=24))
        seq = list(data)
        data = bytes(data) if kind == "bytes" else data
    times = draw(st.integers(0, 5))
    count = draw(st.sampled_from([0, 1, 2, 3, 7, MAX_COUNT]))
    return data, seq, count, times, draw(st.booleans())


@settings(max_examples=1500, deadline=None)
@given(search_inputs())
def test_against_model(case):
    data, seq, count, times, glob = case
    assert find(data, count, times, glob) == model_search(seq, count, times, glob)


def fibonacci_word(n):
    a, b = "a", "ab"
    while len(b) < n:
        a, b = b, b + a
    return b[:n]


def thue_morse(n):
    return "".join("ab"[bin(i).count("1") % 2] for i in range(n))


def de_bruijn_binary(order):
    # Lyndon-word construction: every binary word of `order` letters once, cyclically.
    sequence, a = [], [0] * (order + 1)

    def extend(t, p):
        if t > order:
            if order % p == 0:
                sequence.extend(a[1:p + 1])
        else:
            a[t] = a[t - p]
            extend(t + 1, p)
            for bit in range(a[t - p] + 1, 2):
                a[t] = bit
                extend(t + 1, t)

    extend(1, 1)
    return "".join("ab"[bit] for bit in sequence)


def repeated_block_shapes(rng):
    x = "".join(rng.choice("abc") for _ in range(9))
    y = "".join(rng.choice("abc") for _ in range(5))
    mutated = x[:4] + ("a" if x[4] != "a" else "b") + x[5:]
    return [x + x, x * 4, x + y + x, x + mutated + x]


STRUCTURED = (
    ["a" * n for n in (1, 2, 3, 13, 17, 24, 30)]
    + ["ab" * 9, "abc" * 6 + "ab", "aabaa", "abcdefgh" * 2, "aaaxy"]
    + [fibonacci_word(n) for n in (8, 21, 34)]
    + [thue_morse(n) for n in (16, 27, 32)]
    + repeated_block_shapes(random.Random(3))
)


@pytest.mark.parametrize("glob", [False, True])
@pytest.mark.parametrize("data", STRUCTURED)
def test_structured_inputs_against_model(data, glob):
    # Periodic, self-similar and block-repeat inputs, where every substring
    # has many occurrences and equal keys abound.
    for times in (1, 2, 3, 5, len(data)):
        for count in (1, 4, MAX_COUNT):
            for form in (data, data.encode(), data.replace("a", "\U0010ffff").replace("b", "\x00")):
                assert find(form, count, times, glob) == model_search(list(form), count, times, glob)


def test_de_bruijn_with_times_one():
    # Every word of `order` letters occurs once (cyclically): with times = 1 the
    # ranking is all about length, then first occurrence.
    data = de_bruijn_binary(5)
    for glob in (False, True):
        assert find(data, 50, 1, glob) == model_search(list(data), 50, 1, glob)


def one_letter_ranking(n, times, count):
    # "a" * n: the fragment of length L has floor(n / L) back-to-back occurrences.
    ranked = sorted(range(1, n // times + 1), key=lambda L: (-(n // L) * L, -L))
    return [{"id": i, "occurrences": [{"start": j * L, "end": (j + 1) * L} for j in range(n // L)]}
            for i, L in enumerate(ranked[:count])]


@pytest.mark.parametrize("n", [99_991, 100_000])  # a prime and a highly composite length
def test_one_letter_at_scale(n):
    assert find("a" * n, 30, 2, False) == one_letter_ranking(n, 2, 30)
    assert find(b"a" * n, 30, 3, False) == one_letter_ranking(n, 3, 30)
    assert find("a" * n, 30, 2, True) == one_letter_ranking(n, 2, 1)


def test_long_repeated_block_at_scale():
    # A random block placed three times in random text: the block with its three
    # occurrences ranks first, then its two longest sub-blocks.
    rng = random.Random(11)
    text = [rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(60_000)]
    block = "".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(5_000))
    for at in (1_000, 20_000, 50_000):
        text[at:at + 5_000] = block
    text = "".join(text)
    result = find(text, 3, 2, False)
    starts = [1_000, 20_000, 50_000]
    assert intervals(result) == [[(s, s + 5_000) for s in starts], [(s, s + 4_999) for s in starts],
                                 [(s + 1, s + 5_000) for s in starts]]
    check_invariants(text, find(text, 40, 2, True), 2, True)


def check_invariants(data, result, times, glob):
    assert [f["id"] for f in result] == list(range(len(result)))
    seen = set()
    for spans in intervals(result):
        lengths = {e - s for s, e in spans}
        assert len(lengths) == 1 and min(lengths) >= 1
        assert all(a[1] <= b[0] for a, b in zip(spans, spans[1:]))
        assert len(spans) >= times
        fragment = data[spans[0][0]:spans[0][1]]
        assert data.count(fragment) == len(spans)
        # The occurrences are exactly what repeated find() yields.
        expected, at = [], data.find(fragment)
        while at >= 0:
            expected.append((at, at + len(fragment)))
            at = data.find(fragment, at + len(fragment))
        assert expected == spans
        if glob:
            covered = {p for s, e in spans for p in range(s, e)}
            assert not covered & seen
            seen |= covered


@pytest.mark.parametrize("glob", [False, True])
@pytest.mark.parametrize("seed", range(4))
def test_invariants_on_larger_inputs(seed, glob):
    rng = random.Random(seed)
    block = "".join(rng.choice("acgt") for _ in range(40))
    text = "".join(rng.choice("acgt") for _ in range(300)) + block + "x" * 30 + block + block[:20]
    for data in (text, text.encode()):
        result = find(data, 60, 2, glob)
        assert result
        check_invariants(data, result, 2, glob)


def test_results_do_not_depend_on_the_pool_size(python_child):
    code = """
        import hashlib, random, _veltrane
        rng = random.Random(7)
        text = "".join(rng.choice("ab") for _ in range(400)) * 2
        big = "".join(rng.choice("abcd") for _ in range(300_000))
        big = big + big[1000:21000] + "a" * 5000
        out = []
        for glob in (False, True):
            out.append(_veltrane.strings_frag.find_non_overlapping_fragments(text, 50, 2, glob))
            out.append(_veltrane.strings_frag.find_non_overlapping_fragments(text.encode(), 2**64 - 1, 3, glob))
            out.append(_veltrane.strings_frag.find_non_overlapping_fragments(big, 200, 2, glob))
            out.append(_veltrane.strings_frag.find_non_overlapping_fragments(big.encode(), 200, 1, glob))
        print(hashlib.sha256(repr(out).encode()).hexdigest())
    """
    outputs = {python_child(code, env={"RAYON_NUM_THREADS": str(t)}).strip() for t in (1, 2, 7)}
    assert len(outputs) == 1


def test_mutable_buffers_are_searched_as_they_were():
    raw = bytearray(b"abcabcab")
    assert find(memoryview(raw), 5, 2, False) == find(bytes(raw), 5, 2, False)


@pytest.mark.skipif(UNDER_SANITIZER, reason="the sanitizer runtime reserves more address space than the limit")
def test_memory_exhaustion_raises_memory_error(python_child):
    out = python_child(
        """
        import os, resource, _veltrane
        resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
        data = os.urandom(6000)
        try:
            _veltrane.strings_frag.find_non_overlapping_fragments(data, 2**64 - 1, 1, False)
            print("returned")
        except MemoryError:
            print("MemoryError")
        print(_veltrane.strings_frag.find_non_overlapping_fragments(b"abab", 1, 2, False))
        """,
        env={"RAYON_NUM_THREADS": "2"},
        timeout=300,
    )
    lines = out.splitlines()
    assert lines[0] == "MemoryError"
    assert lines[1] == "[{'id': 0, 'occurrences': [{'start': 0, 'end': 2}, {'start': 2, 'end': 4}]}]"
