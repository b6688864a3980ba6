"""`veltrane.measure` and its state: every figure against small independent models, any buffer as raw bytes.

The models compute from the bytes with exact Python integers and the plain
formulas; scipy gives the chi-square tail; the native module `_veltrane` gives
the four entropy measures, which the engine must reproduce bit for bit.
"""
import array
import math
import mmap
import os
import random
from collections import Counter

import numpy
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _veltrane
import veltrane
from veltrane import _engine

scipy_stats = pytest.importorskip("scipy.stats")

MCV_Z = 2.5758293035489008


def bits_of(data):
    return [(byte >> (7 - k)) & 1 for byte in data for k in range(8)]


def model(data, bits=False):
    """The figures of the symbols (bytes, or bits MSB first) from their definitions."""
    symbols = bits_of(data) if bits else list(data)
    n, bins = len(symbols), 2 if bits else 256
    counts = Counter(symbols)
    out = {"size": n, "histogram": tuple(counts[v] for v in range(bins))}
    if n == 0:
        return out
    expected = n / bins
    out["chi_square"] = sum((counts[v] - expected) ** 2 / expected for v in range(bins))
    out["mean"] = sum(symbols) / n
    top = max(counts.values()) / n
    out["min_entropy_mcv"] = -math.log2(min(1.0, top + MCV_Z * math.sqrt(top * (1 - top) / (n - 1)))) if n > 1 else None
    # Serial correlation with the last value paired with the first (exact integer sums).
    s, s2 = sum(symbols), sum(u * u for u in symbols)
    s1 = sum(symbols[i] * symbols[(i + 1) % n] for i in range(n))
    denominator = n * s2 - s * s
    out["serial_correlation"] = (n * s1 - s * s) / denominator if denominator else math.nan
    groups = [data[i : i + 6] for i in range(0, len(data) - len(data) % 6, 6)]
    inside = sum(int.from_bytes(g[:3], "big") ** 2 + int.from_bytes(g[3:], "big") ** 2 <= (2**24 - 1) ** 2
                 for g in groups)
    out["monte_carlo_pi"] = 4 * inside / len(groups) if groups else math.nan
    return out


def close(a, b, rel=1e-12):
    return (math.isnan(a) and math.isnan(b)) or a == b or abs(a - b) <= rel * max(abs(a), abs(b))


def check_against_model(data, bits):
    got = veltrane.measure(data, bits=bits)
    want = model(data, bits)
    assert (got.size, got.histogram, got.bits) == (want["size"], want["histogram"], bits)
    if not data:
        assert all(math.isnan(v) for v in (got.chi_square, got.chi_square_p, got.mean, got.monte_carlo_pi,
                                           got.serial_correlation, got.min_entropy_mcv))
        assert (got.shannon_entropy, got.min_entropy) == (0.0, 0.0)
        return
    for key in ("chi_square", "mean", "serial_correlation", "monte_carlo_pi"):
        assert close(getattr(got, key), want[key], 1e-9), key
    if want["min_entropy_mcv"] is not None:
        assert close(got.min_entropy_mcv, want["min_entropy_mcv"])
    assert close(got.chi_square_p, float(scipy_stats.chi2.sf(got.chi_square, got.chi_square_df)), 1e-12)
    assert got.chi_square_df == (1 if bits else 255)
    assert close(got.compression, 100 * ((1 if bits else 8) - got.shannon_entropy) / (1 if bits else 8))


def test_measures_carry_exactly_their_declared_fields():
    import dataclasses
    got = veltrane.measure(b"abc")
    assert set(vars(got)) == {f.name for f in dataclasses.fields(veltrane.Measures)}
    assert set(vars(got.ent)) == {f.name for f in dataclasses.fields(veltrane.EntFigures)}
    assert dataclasses.replace(got) == got and repr(got).startswith("Measures(bits=False, size=3,")


texts = st.binary(max_size=400) | st.lists(st.sampled_from(b"aAbz\x00\xff"), max_size=400).map(bytes)


@settings(max_examples=150, deadline=None)
@given(texts, st.booleans())
def test_figures_against_the_model(data, bits):
    check_against_model(data, bits)


def test_figures_of_real_and_degenerate_inputs():
    rng = random.Random(5)
    for data in (rng.randbytes(70_001), bytes(5000), b"\xff" * 600, b"ab" * 3000, open(__file__, "rb").read()):
        for bits in (False, True):
            check_against_model(data, bits)


def test_counts_on_both_sides_of_the_shared_ints():
    """The engine shares the ints of small counts between results: the counts must still be the counts."""
    sizes = [0, 1, 256, 257, 1000, 2046, 2047, 2048, 2049, 5000]
    data = b"".join(bytes([v]) * count for v, count in enumerate(sizes))
    got = veltrane.measure(bytes(reversed(data))).histogram
    assert got[: len(sizes)] == tuple(sizes) and not any(got[len(sizes):])
    assert all(type(c) is int for c in got)


@pytest.mark.parametrize("size", [1, 2, 5, 999, 1000, 262143, 262144, 262145, 1 << 21])
def test_entropies_are_the_native_modules_bit_for_bit(size):
    rng = random.Random(size)
    for data in (rng.randbytes(size), bytes(rng.choice(b"ab\xfe") for _ in range(min(size, 5000)))):
        got = veltrane.measure(data)
        native = _veltrane.shannon_entropy
        assert [v.hex() for v in (got.shannon_entropy, got.metric_entropy, got.normalized_entropy,
                                  got.min_entropy)] == [
            f(data).hex() for f in (native.measure_entropy, native.measure_metric_entropy,
                                    native.measure_normalized_metric_entropy, _veltrane.min_entropy.measure_entropy)]


def test_chi_square_tail_across_its_range():
    # From data far too regular to data far too skewed, in both modes.
    rng = numpy.random.default_rng(3)
    for n in (300, 5000, 100_000):
        for skew in (0.0, 0.02, 0.2, 1.0):
            p = numpy.abs(1 + skew * rng.standard_normal(256))
            data = rng.choice(256, size=n, p=p / p.sum()).astype(numpy.uint8)
            for bits in (False, True):
                got = veltrane.measure(data, bits=bits)
                want = float(scipy_stats.chi2.sf(got.chi_square, got.chi_square_df))
                assert close(got.chi_square_p, want, 1e-12) or (want < 1e-300 and got.chi_square_p < 1e-300)


# ---------------------------------------------------------------- any buffer, as its raw bytes


def buffer_forms(raw):
    """The same memory in many exporters; each is read as exactly its bytes."""
    forms = [raw, bytearray(raw), memoryview(raw)]
    usable = raw[: len(raw) // 8 * 8]
    for code in "bBhHiIlLqQfd":
        forms.append(array.array(code, usable))
    for dtype in ("uint8", "int8", ">u2", "int32", "float64", "complex64", "bool"):
        forms.append(numpy.frombuffer(usable, dtype=numpy.uint8).view(dtype) if dtype != "bool"
                     else numpy.frombuffer(usable, dtype=numpy.uint8).astype(bool))
    grid = numpy.frombuffer(usable, dtype=numpy.uint8).reshape(-1, 8) if usable else numpy.zeros((0, 8), numpy.uint8)
    forms += [grid[:, ::2], grid.T, numpy.asfortranarray(grid), memoryview(raw)[::3], memoryview(raw)[::-1]]
    return forms


@settings(max_examples=40, deadline=None)
@given(st.binary(max_size=200))
def test_every_buffer_is_read_as_its_raw_bytes(raw):
    for form in buffer_forms(raw):
        expected = memoryview(form).tobytes()  # the C-order bytes of any buffer
        assert veltrane.measure(form) == veltrane.measure(expected), type(form)
        assert veltrane.measure(form).size == len(expected)


def test_an_mmap_and_a_str_are_read_as_their_bytes():
    text = "naïve café — 文字 🙂"
    assert veltrane.measure(text) == veltrane.measure(text.encode("utf-8"))
    with mmap.mmap(-1, 4096) as mapping:
        mapping.write(b"xyz" * 1000)
        assert veltrane.measure(mapping) == veltrane.measure(bytes(mapping))
    with pytest.raises(UnicodeEncodeError):
        veltrane.measure("\ud800")


@pytest.mark.parametrize("refused", [[1, 2, 3], (1,), 5, None, 2.5, {1: 2}, iter(b"ab"), range(3)])
def test_anything_else_is_refused_with_what_is_accepted(refused):
    with pytest.raises(TypeError) as info:
        veltrane.measure(refused)
    assert str(info.value) == (
        "data must be a bytes-like object (bytes, bytearray, memoryview, mmap, array.array, a numpy array or "
        f"any other object with the buffer protocol) or a str, not '{type(refused).__name__}'")


# ---------------------------------------------------------------- states


@settings(max_examples=100, deadline=None)
@given(st.binary(max_size=300), st.lists(st.integers(0, 300), max_size=6), st.booleans())
def test_states_of_consecutive_pieces_merge_into_the_whole(data, cuts, fold):
    points = sorted({min(c, len(data)) for c in cuts} | {0, len(data)})
    pieces = [veltrane.measure_state(data[a:b], start=a, case_fold=fold) for a, b in zip(points, points[1:])]
    whole = pieces[0] if pieces else veltrane.measure_state(b"")
    for piece in pieces[1:]:
        whole = whole + piece
    for bits in (False, True):
        assert whole.finish(bits=bits) == veltrane.measure(data, bits=bits, case_fold=fold)


def test_states_refuse_what_does_not_fit():
    a = veltrane.measure_state(b"hello")
    with pytest.raises(ValueError):
        a + veltrane.measure_state(b"world", start=7)  # a gap
    with pytest.raises(ValueError):
        a.merge(veltrane.measure_state(b"world", start=5, case_fold=True))  # folded and not
    with pytest.raises(ValueError):
        veltrane.measure_state(b"world", start=5).finish()  # a piece, not a whole input
    damaged = bytearray(a.blob)
    damaged[len(damaged) // 2] ^= 1
    with pytest.raises(ValueError):
        veltrane.MeasureState(bytes(damaged)).finish()
    with pytest.raises(ValueError):
        veltrane.MeasureState(b"not a state").finish()


def test_the_engine_makes_ordinary_frozen_results():
    """The engine builds the result objects itself: they must behave as if made by their classes."""
    import copy
    import dataclasses
    import pickle

    m = veltrane.measure(b"an ordinary input, measured", bits=True)
    assert type(m) is veltrane.Measures and type(m.ent) is veltrane.EntFigures
    for made in (m, m.ent):
        assert set(vars(made)) == {f.name for f in dataclasses.fields(made)}
    assert pickle.loads(pickle.dumps(m)) == m and copy.deepcopy(m) == m
    assert dataclasses.replace(m, size=m.size) == m and dataclasses.replace(m, size=1) != m
    with pytest.raises(dataclasses.FrozenInstanceError):
        m.size = 1  # type: ignore[misc]
    with pytest.raises(dataclasses.FrozenInstanceError):
        m.ent.entropy = 1.0  # type: ignore[misc]


def test_the_engine_refuses_what_it_cannot_build_results_of():
    with pytest.raises(TypeError, match=r"^a class is needed for the figures, not 'int'$"):
        _engine.measure(b"x", False, False, 3, veltrane.EntFigures)
    with pytest.raises(TypeError, match=r"^a class is needed for the figures, not 'str'$"):
        _engine.finish(veltrane.measure_state(b"x").blob, False, veltrane.Measures, "EntFigures")
    with pytest.raises(TypeError, match=r"^the figures' class must be an ordinary class, not 'int'$"):
        _engine.measure(b"x", False, False, int, veltrane.EntFigures)

    class Slotted:
        __slots__ = ("size",)

    with pytest.raises(AttributeError):
        _engine.measure(b"x", False, False, veltrane.Measures, Slotted)
    with pytest.raises(TypeError, match=r"^measure\(\) takes 5 arguments \(1 given\)$"):
        _engine.measure(b"x")
    with pytest.raises(TypeError, match=r"^finish\(\) takes 4 arguments \(1 given\)$"):
        _engine.finish(b"not a state")


def test_large_inputs_split_anywhere_give_the_single_pass_bit_for_bit():
    # Across the parallel threshold and its chunks, with cuts that are not multiples of 6.
    data = random.Random(9).randbytes(3 << 20) + bytes(100_001)
    cut = 1_000_003
    merged = veltrane.measure_state(data[:cut]) + veltrane.measure_state(data[cut:], start=cut)
    assert merged.finish() == veltrane.measure(data)
    assert merged.finish(bits=True) == veltrane.measure(data, bits=True)


def test_results_do_not_depend_on_the_number_of_worker_threads(python_child):
    code = """
        import hashlib, random, veltrane
        data = random.Random(4).randbytes((5 << 20) + 13)
        figures = [veltrane.measure(data, bits=b) for b in (False, True)]  # repr: every digit of every figure
        print(hashlib.sha256((repr(figures) + veltrane.entropy_profile(data, 4096, 1000).values.tobytes().hex())
                             .encode()).hexdigest())
    """
    outs = {python_child(code, env={"RAYON_NUM_THREADS": n}) for n in ("1", "2", "3", "7")}
    assert len(outs) == 1


# ---------------------------------------------------------------- profiles


@settings(max_examples=30, deadline=None)
@given(st.integers(0, 3000), st.integers(1, 600), st.integers(1, 600), st.sampled_from(["metric", "normalized"]))
def test_profile_values_are_each_window_measured_alone(size, window, step, kind):
    data = random.Random(size).randbytes(size // 2) + bytes(size - size // 2)
    profile = veltrane.entropy_profile(data, window, step, measure=kind)
    alone = (_veltrane.shannon_entropy.measure_metric_entropy if kind == "metric"
             else _veltrane.shannon_entropy.measure_normalized_metric_entropy)
    assert profile.size == size
    assert [v.hex() for v in profile.values] == [alone(data[o : o + window]).hex() for o in profile.offsets]
