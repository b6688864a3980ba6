"""The four entropy measures against an independent model, bit for bit."""
import math
import os
import struct
from collections import Counter

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from _veltrane import min_entropy, shannon_entropy

CURVE_OFFSET = float.fromhex("0x1.3908d0ea36e14p+1")
CURVE_EXPONENT = float.fromhex("-0x1.081088f85cf3ap+0")
CURVE_SCALE = float.fromhex("-0x1.e3784febb1519p+7")


def bits(x):
    """Exact identity of a float, sign of zero included."""
    return struct.pack("<d", x)


def model_entropy(data: bytes) -> float:
    counts = Counter(data)
    n = float(len(data))
    acc = -0.0
    for value in range(256):
        if counts[value]:
            p = counts[value] / n
            acc = acc - math.log2(p) * p
    return acc


def model_min_entropy(data: bytes) -> float:
    if not data:
        return 0.0
    return -math.log2(max(Counter(data).values()) / len(data))


def model_curve(n: int) -> float:
    return math.pow(n + CURVE_OFFSET, CURVE_EXPONENT) * CURVE_SCALE + 8.0


def expected_entropy_of_random_bytes(n: int) -> float:
    """R(n), summed in log space; good to ~1e-12, far inside the table's tolerance."""
    total = 0.0
    for k in range(1, n + 1):
        log_weight = (math.lgamma(n + 1) - math.lgamma(k + 1) - math.lgamma(n - k + 1)
                      + k * math.log(1 / 256) + (n - k) * math.log(255 / 256))
        weight = math.exp(log_weight)
        total += weight * -(k / n) * math.log2(k / n)
        if k > 8 and weight < 1e-30:
            break
    return 256 * total


def measures(data):
    return (
        shannon_entropy.measure_entropy(data),
        shannon_entropy.measure_metric_entropy(data),
        shannon_entropy.measure_normalized_metric_entropy(data),
        min_entropy.measure_entropy(data),
    )


def forms(raw: bytes):
    """Every argument form that must measure these bytes."""
    yield raw
    yield bytearray(raw)
    yield list(raw)
    yield tuple(raw)
    yield memoryview(raw)
    try:
        yield raw.decode("utf-8")
    except UnicodeDecodeError:
        pass


EDGE_CASES = [
    # data, Shannon, metric, normalised (None: H / table[n]), min-entropy
    (b"", 0.0, 0.0, 0.0, 0.0),
    (b"a", -0.0, -0.0, 0.0, -0.0),
    (b"aaaa", -0.0, -0.0, -0.0, -0.0),
    (b"ab", 1.0, 0.125, 1.0, 1.0),
    ("é".encode(), 1.0, 0.125, 1.0, 1.0),
    (b"aab", 0.9182958340544896, 0.1147869792568112, 0.9182958340544896 / 1.5769166510961505, 0.5849625007211563),
    (b"hello world", 2.8453509366224368, 0.3556688670778046, 2.8453509366224368 / 3.420757464097063,
     1.8744691179161412),
    (bytes(range(256)), 8.0, 1.0, 1.0, 8.0),
    (b"a" * 500 + b"b" * 500, 1.0, 0.125, 0.128106120223713, 1.0),
    (b"abcd" * 300, 2.0, 0.25, 0.2551275787322431, 2.0),
]


@pytest.mark.parametrize("raw, h, metric, normalised, h_min", EDGE_CASES, ids=lambda v: repr(v)[:20])
def test_edge_cases_bit_for_bit(raw, h, metric, normalised, h_min):
    for form in forms(raw):
        assert list(map(bits, measures(form))) == list(map(bits, (h, metric, normalised, h_min))), type(form)


def test_text_is_measured_over_its_utf8_bytes():
    text = "naïve façade — 文字 🙂"
    assert list(map(bits, measures(text))) == list(map(bits, measures(text.encode("utf-8"))))
    assert list(map(bits, measures(""))) == list(map(bits, measures([])))


@settings(max_examples=300, deadline=None)
@given(st.binary(max_size=3000) | st.lists(st.integers(0, 3), max_size=3000).map(bytes))
def test_against_model(raw):
    n = len(raw)
    h = model_entropy(raw) if n else 0.0
    got = measures(raw)
    assert bits(got[0]) == bits(h)
    assert bits(got[1]) == bits(h * 0.125 if n else 0.0)
    assert bits(got[3]) == bits(model_min_entropy(raw))
    if n >= 1000:
        q = h / model_curve(n)
        assert bits(got[2]) == bits(q if q < 1.0 else 1.0)
    elif n < 2:
        assert bits(got[2]) == bits(0.0)
    else:
        assert 0.0 <= got[2] <= 1.0


def test_table_rows_estimate_expected_entropy_and_rise():
    # The divisor for n < 1000 is observable as H / result on data whose result stays below 1.
    divisors = {}
    for n in range(3, 1000):
        raw = b"a" * (n - 1) + b"b"
        h = shannon_entropy.measure_entropy(raw)
        divisors[n] = h / shannon_entropy.measure_normalized_metric_entropy(raw)
    for n, divisor in divisors.items():
        assert abs(divisor - expected_entropy_of_random_bytes(n)) <= 0.00054 + 1e-9, n
    rows = [divisors[n] for n in range(3, 1000)]
    assert all(a < b for a, b in zip(rows, rows[1:]))
    # The pinned rows keep their exact values.
    for n, entry in [(3, 1.5769166510961505), (11, 3.420757464097063), (100, 6.285681220268449),
                     (256, 7.174691458984072), (999, 7.803613030275777)]:
        raw = b"a" * (n - 1) + b"b"
        h = shannon_entropy.measure_entropy(raw)
        assert bits(shannon_entropy.measure_normalized_metric_entropy(raw)) == bits(h / entry)


@pytest.mark.parametrize("n, expected", [(1000, 7.80602830101864), (2000, 7.904989410381012),
                                         (10000, 7.981919070778263), (65536, 7.997399165951294)])
def test_curve_values(n, expected):
    raw = b"a" * (n - 1) + b"b"
    h = shannon_entropy.measure_entropy(raw)
    assert bits(shannon_entropy.measure_normalized_metric_entropy(raw)) == bits(h / expected)


@pytest.mark.parametrize("n", [262143, 262144, 262145, 3 * 65536 + 7, 1 << 20])
def test_parallel_boundary_matches_model(n):
    raw = os.urandom(n // 2) + bytes(i % 7 for i in range(n - n // 2))
    assert bits(shannon_entropy.measure_entropy(raw)) == bits(model_entropy(raw))
    assert bits(min_entropy.measure_entropy(raw)) == bits(model_min_entropy(raw))
    assert bits(shannon_entropy.measure_entropy(bytearray(raw))) == bits(model_entropy(raw))


def test_one_repeated_value_at_any_length():
    for n in (1, 2, 999, 1000, 262144, 300001):
        raw = b"\x07" * n
        h, metric, normalised, h_min = measures(raw)
        assert bits(h) == bits(-0.0) and bits(metric) == bits(-0.0) and bits(h_min) == bits(-0.0)
        assert bits(normalised) == bits(0.0 if n == 1 else -0.0)


def test_random_data_scores_close_to_one():
    raw = os.urandom(1 << 16)
    assert 0.99 < shannon_entropy.measure_normalized_metric_entropy(raw) <= 1.0
    assert 7.99 < shannon_entropy.measure_entropy(raw) <= 8.0
