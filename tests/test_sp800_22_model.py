"""veltrane.sp800_22 against a model written with numpy and scipy on short random and structured sequences.

The model recomputes each test's figures from the bits (numpy: cumulative sums, histograms of windows,
the FFT, the walk's cycles) and every p-value from the figures with scipy's incomplete gamma and normal
functions, which checks the engine's own incomplete gamma function on every chi-square it takes. The
second level is checked on series whose counts are known, and so are the refusals, the number of
threads, and Ctrl-C.
"""
import math
import random

import numpy as np
import pytest
from scipy.special import gammaincc
from scipy.stats import norm

import veltrane
from veltrane import _engine
from test_interrupt import interrupt_twice

RELATIVE = 1e-9


def close(ours, model):
    return math.isclose(ours, model, rel_tol=RELATIVE, abs_tol=1e-12)


def structured(kind, n, seed):
    rng = random.Random(seed)
    if kind == "random":
        bits = [rng.getrandbits(1) for _ in range(n)]
    elif kind == "biased":
        bits = [int(rng.random() < 0.53) for _ in range(n)]
    elif kind == "sticky":
        bits, b = [], 0
        for _ in range(n):
            b = b if rng.random() < 0.6 else 1 - b
            bits.append(b)
    elif kind == "period":
        bits = [(0b1101001 >> (i % 7)) & 1 for i in range(n)]
    elif kind == "alternating":
        bits = [i & 1 for i in range(n)]
    else:
        bits = [0] * n
    return np.array(bits, dtype=np.int64)


def packed(bits):
    return np.packbits(bits.astype(np.uint8)).tobytes()


def windows(bits, m, cyclic):
    ext = np.concatenate([bits, bits[: m - 1]]) if cyclic else bits
    count = len(bits) if cyclic else len(bits) - m + 1
    value = np.zeros(count, dtype=np.int64)
    for j in range(m):
        value = (value << 1) | ext[j: j + count]
    return value


def check_walk(bits, seq):
    n = len(bits)
    s = np.cumsum(2 * bits - 1)
    assert seq.frequency.sum == s[-1]
    assert close(seq.frequency.p_value, math.erfc(abs(s[-1]) / math.sqrt(2 * n)))
    cs = seq.cumulative_sums
    back = np.cumsum((2 * bits - 1)[::-1])
    assert (cs.forward_max, cs.backward_max) == (np.abs(s).max(), np.abs(back).max())
    for z, p in ((cs.forward_max, cs.p_forward), (cs.backward_max, cs.p_backward)):
        first = sum(norm.cdf((4 * k + 1) * z / math.sqrt(n)) - norm.cdf((4 * k - 1) * z / math.sqrt(n))
                    for k in range(math.ceil((-n / z + 1) / 4), math.floor((n / z - 1) / 4) + 1))
        second = sum(norm.cdf((4 * k + 3) * z / math.sqrt(n)) - norm.cdf((4 * k + 1) * z / math.sqrt(n))
                     for k in range(math.ceil((-n / z - 3) / 4), math.floor((n / z - 1) / 4) + 1))
        assert math.isclose(p, 1 - first + second, abs_tol=1e-9)
    runs, pi = seq.runs, bits.mean()
    assert runs.prerequisite == (abs(pi - 0.5) < 2 / math.sqrt(n))
    if runs.prerequisite:
        v = 1 + int(np.count_nonzero(bits[1:] != bits[:-1]))
        assert runs.runs == v
        assert close(runs.p_value, math.erfc(abs(v - 2 * n * pi * (1 - pi)) / (2 * math.sqrt(2 * n) * pi * (1 - pi))))
    else:
        assert runs.p_value == 0.0 and runs.runs is None
    walk = np.concatenate([[0], s, [0]])
    zeros = np.flatnonzero(walk == 0)
    cycles = [walk[a + 1: b] for a, b in zip(zeros[:-1], zeros[1:]) if b > a + 1]
    ex, va = seq.random_excursions, seq.random_excursions_variant
    assert ex.cycles == va.cycles == len(cycles) and ex.applicable == (len(cycles) >= max(500, 0.005 * math.sqrt(n)))
    for state in ex.states:
        assert state.counts == tuple(np.bincount([min(int((c == state.state).sum()), 5) for c in cycles],
                                                 minlength=6))
    for state in va.states:
        assert state.visits == int((s == state.state).sum())


def check_patterns(bits, seq):
    n = len(bits)
    bf = seq.block_frequency
    blocks = bits[: bf.blocks * bf.block_length].reshape(bf.blocks, bf.block_length).mean(axis=1)
    assert close(bf.chi_square, 4 * bf.block_length * ((blocks - 0.5) ** 2).sum())
    assert close(bf.p_value, gammaincc(bf.blocks / 2, bf.chi_square / 2))
    se = seq.serial
    psi = [0.0 if m <= 0 else 2 ** m / n * (np.bincount(windows(bits, m, True), minlength=2 ** m) ** 2).sum() - n
           for m in (se.block_length, se.block_length - 1, se.block_length - 2)]
    assert all(close(a, b) for a, b in zip((se.psi_m, se.psi_m1, se.psi_m2), psi))
    assert close(se.p_value1, gammaincc(2 ** (se.block_length - 2), se.del1 / 2))
    assert close(se.p_value2, gammaincc(2 ** (se.block_length - 3), se.del2 / 2))
    ap = seq.approximate_entropy
    phis = []
    for m in (ap.block_length, ap.block_length + 1):
        c = np.bincount(windows(bits, m, True))
        c = c[c > 0] / n
        phis.append(float((c * np.log(c)).sum()))
    assert close(ap.phi_m, phis[0]) and close(ap.phi_m1, phis[1])
    assert close(ap.p_value, gammaincc(2 ** (ap.block_length - 1), ap.chi_square / 2))
    no = seq.non_overlapping_template
    for b in range(no.blocks):
        block = bits[b * no.block_length: (b + 1) * no.block_length]
        found = np.bincount(windows(block, no.template_length, False), minlength=2 ** no.template_length)
        assert all(t.counts[b] == found[int(t.template, 2)] for t in no.templates)
    assert all(close(t.p_value, gammaincc(no.blocks / 2, t.chi_square / 2)) for t in no.templates)
    dft = seq.dft
    moduli = np.abs(np.fft.rfft(2.0 * bits - 1))[: n // 2]
    assert dft.below == int((moduli < math.sqrt(math.log(20) * n)).sum())
    assert close(dft.p_value, math.erfc(abs(dft.d) / math.sqrt(2)))
    for test in (seq.longest_run, seq.overlapping_template, seq.linear_complexity):
        expected = test.blocks * np.array(test.probabilities)
        assert close(test.chi_square, float(((np.array(test.counts) - expected) ** 2 / expected).sum()))
        assert close(test.p_value, gammaincc((len(test.counts) - 1) / 2, test.chi_square / 2))
    rank = seq.rank
    assert close(rank.p_value, math.exp(-rank.chi_square / 2))


KINDS = ["random", "biased", "sticky", "period", "alternating", "zeros"]


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("n", [2048, 20_000])
def test_every_figure_is_the_models(kind, n):
    bits = structured(kind, n, seed=n)
    result = veltrane.sp800_22(packed(bits), length=n, universal_block_length=6, serial_block_length=5,
                               approximate_entropy_block_length=3, non_overlapping_template_length=4,
                               non_overlapping_blocks=3, overlapping_block_length=100)
    seq = result.sequences[0]
    check_walk(bits, seq)
    check_patterns(bits, seq)
    u = seq.universal  # left out below 3,846 bits, (Q + 1) L for L = 6
    assert (u is None) == (n < 3846)
    if u is not None:
        assert close(u.p_value, math.erfc(abs(u.phi - u.expected) / (math.sqrt(2) * u.sigma)))


def test_sequences_cut_anywhere_are_their_own_bits():
    # Sequences of 1001 bits start inside bytes; the ASCII form of the same bits agrees.
    bits = structured("random", 5 * 1001 + 3, seed=9)
    raw = veltrane.sp800_22(packed(bits), length=1001, tests=["frequency", "runs", "dft", "serial"])
    text = "\n".join(" ".join(map(str, bits[i: i + 50])) for i in range(0, len(bits), 50))
    ascii = veltrane.sp800_22(text, bits="ascii", length=1001, tests=["frequency", "runs", "dft", "serial"])
    assert len(raw.sequences) == 5 and raw.sequences == ascii.sequences
    for i, seq in enumerate(raw.sequences):
        alone = veltrane.sp800_22(packed(bits[i * 1001: (i + 1) * 1001]), length=1001,
                                  tests=["frequency", "runs", "dft", "serial"])
        assert alone.sequences[0].dft == seq.dft and alone.sequences[0].serial == seq.serial


@pytest.mark.parametrize("compatible", [False, True])
def test_the_second_level_of_series_with_known_counts(compatible):
    # 60 p-values, six in each bin, three of them failing at 0.01.
    values = np.array([(i % 10) / 10 + (0.001 * (i // 10 + 1) if i % 10 == 0 and i < 30 else 0.05)
                       for i in range(60)])
    s = _engine.sp800_22_summary(values, compatible)
    assert s["bins"] == (6,) * 10 and s["passed"] == 57 and s["uniformity"] == 1.0
    low = 0.99 - 3 * math.sqrt(0.99 * 0.01 / 60)
    assert math.isclose(s["low"], low) and s["least"] == int(low * 60) == 57
    # 57 of 60 is below the interval (0.95 < 0.9515), and at the program's truncated least count.
    assert s["proportion_passed"] == compatible
    # 25 p-values, 20 in the first bin: the program expects 2 per bin (25 // 10), the standard 2.5 (from 55 on).
    lopsided = np.array([0.05] * 20 + [0.95] * 5)
    s = _engine.sp800_22_summary(lopsided, compatible)
    expected = 2 if compatible else 2.5
    chi = ((np.array(s["bins"]) - expected) ** 2 / expected).sum()
    assert s["uniformity"] == (pytest.approx(gammaincc(4.5, chi / 2), rel=1e-10) if compatible else None)


@pytest.mark.parametrize("keywords, message", [
    (dict(length=0), "length must be at least 1"),
    (dict(sequences=0), "sequences must be at least 1"),
    (dict(sequences=5), "the data holds 1 sequences"),
    (dict(bits="hex"), "bits must be 'bytes' or 'ascii'"),
    (dict(tests=["frequency", "coin"]), "unknown test 'coin'"),
    (dict(block_frequency_block_length=0), "block_frequency_block_length must be at least 1"),
    (dict(longest_run_block_length=64), "longest_run_block_length must be 8, 128 or 10000"),
    (dict(non_overlapping_template_length=1), "non_overlapping_template_length must be from 2 to 16"),
    (dict(overlapping_block_length=5), "overlapping_block_length must be from 9"),
    (dict(universal_block_length=5), "universal_block_length must be from 6 to 16"),
    (dict(linear_complexity_block_length=6000), "linear_complexity_block_length must be from 500 to 5000"),
    (dict(serial_block_length=1), "serial_block_length must be from 2 to 20"),
    (dict(tests=["rank"], length=1000), "rank needs sequences of at least 1024 bits"),
])
def test_refusals_name_the_argument(keywords, message):
    data = bytes(random.Random(1).randbytes(2000))
    with pytest.raises(ValueError, match=message):
        veltrane.sp800_22(data, **{"length": 16000, **keywords})


def test_wrong_types_are_type_errors():
    with pytest.raises(TypeError, match="length must be an int"):
        veltrane.sp800_22(b"\0" * 100, length=8.0)
    with pytest.raises(TypeError, match="unexpected keyword argument 'block_length'"):
        veltrane.sp800_22(b"\0" * 100, length=800, block_length=3)
    with pytest.raises(TypeError, match="data must be a bytes-like object"):
        veltrane.sp800_22(12345, length=8)


def test_the_result_does_not_depend_on_the_threads(python_child):
    code = """
        import hashlib, random, veltrane
        data = random.Random(7).randbytes(8 * 125_000)
        r = veltrane.sp800_22(data)
        print(len(r.sequences), hashlib.sha256(repr(r).encode()).hexdigest())
    """
    outputs = {python_child(code, env={"RAYON_NUM_THREADS": str(t)}) for t in (1, 2, 3)}
    assert len(outputs) == 1 and outputs.pop().startswith("8 ")


LONG_SP800_22 = """
import random, veltrane
data = random.Random(8).randbytes(300 * 125_000)
def long_call():
    return veltrane.sp800_22(data)
"""


def test_ctrl_c_stops_a_long_run():
    interrupt_twice(LONG_SP800_22, delay=0.5, env={"RAYON_NUM_THREADS": "1"})
