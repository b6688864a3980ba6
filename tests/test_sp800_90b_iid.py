"""veltrane.sp800_90b_iid and `veltrane sp800-90b iid`: NIST's recorded runs, a plain model, seeds and refusals.

The recorded runs of NIST's tool (tests/data/sp800_90b_iid, each with the seed
that made its shuffles) are matched through the whole chain, engine to the
verbose renderer, line for line: counters and verdicts exactly, figures to 1e-10
relative. A plain model of the standard (tests/iid_model.py) checks every
statistic, the chi-square tests, P_col, W and the counters of whole runs on
short random inputs.
"""
import dataclasses
import json
import pathlib
import random
from decimal import Decimal, localcontext

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import iid_model
from test_sp800_90b import figures_agree
import veltrane
from veltrane.cli import main
from veltrane.cli.json_figures import json_ready

DATA = pathlib.Path(__file__).parent / "data"
IID = DATA / "sp800_90b_iid"
RUNS = [("rand8_short", DATA / "sp800_90b", "seed1.bin"), ("rand4_short", DATA / "sp800_90b", "seed2.bin"),
        ("rand1_short", DATA / "sp800_90b", "seed1.bin"), ("walk_short", IID, "seed2.bin")]


@pytest.mark.parametrize("name,folder,seed", RUNS)
def test_the_recorded_runs_agree_line_by_line(name, folder, seed, capsys):
    path = folder / f"{name}.bin"
    assert main(["sp800-90b", "iid", "-v", "--seed", (IID / seed).read_bytes().hex(), str(path)]) == 0
    ours = capsys.readouterr().out.splitlines()
    recorded = (IID / f"{name}.iid.res").read_text().splitlines()
    # Ours ends with the overall verdict and the seed, which the tool does not print.
    assert ours[-1] == f"Seed: {(IID / seed).read_bytes().hex()}" and ours[-2].startswith("IID assessment: ")
    assert len(ours) - 2 == len(recorded)
    assert ours[0] == recorded[0].replace(f"'{name}.bin'", f"'{path}'")
    assert [(o, r) for o, r in zip(ours[1:-2], recorded[1:]) if not figures_agree(o, r)] == []


def exactly(x):
    """A numpy long double as an exact Decimal (two doubles hold its 64 bits)."""
    high = float(x)
    with localcontext() as context:
        context.prec = 80
        return Decimal(high) + Decimal(float(x - iid_model.LONG(high)))


def random_samples(seed, n, values, bias=0.0):
    rng = random.Random(seed)
    return bytes(values[0] if rng.random() < bias else rng.choice(values) for _ in range(n))


@st.composite
def short_samples(draw):
    width = draw(st.sampled_from([1, 2, 4, 8]))
    values = draw(st.lists(st.integers(0, (1 << width) - 1), min_size=1, max_size=1 << width, unique=True))
    n = draw(st.integers(1, 400))
    return bytes(draw(st.lists(st.sampled_from(values), min_size=n, max_size=n)))


@settings(max_examples=60, deadline=None)
@given(short_samples())
def test_every_statistic_of_the_samples_is_the_models(samples):
    ours = veltrane.sp800_90b_iid(samples, seed=bytes(range(1, 33)))
    model = iid_model.statistics(samples)
    assert {s.name: s.original for s in ours.permutation.statistics} == model


@pytest.mark.parametrize("case", range(8))
def test_the_chi_square_tests_and_the_lrs_figures_are_the_models(case):
    rng = random.Random(case)
    values = rng.sample(range(256), [2, 3, 16, 200][case % 4])
    samples = random_samples(case, rng.randrange(200, 3000), values, bias=0.3 * (case // 4))
    a = veltrane.sp800_90b_iid(samples, seed=bytes(range(1, 33)))
    (t_ind, df_ind), (t_fit, df_fit) = iid_model.chi_square(samples)
    chi = a.chi_square
    assert (chi.independence.statistic, chi.independence.df) == (t_ind, df_ind)
    assert (chi.goodness_of_fit.statistic, chi.goodness_of_fit.df) == (t_fit, df_fit)
    from scipy.stats import chi2 as chi2_distribution
    for test in (chi.independence, chi.goodness_of_fit):
        assert test.passed == (test.p_value is not None and test.p_value >= 0.001)
        if test.df > 0:
            assert test.p_value == pytest.approx(chi2_distribution.sf(test.statistic, test.df), rel=1e-10, abs=1e-300)
    assert a.lrs.long_double("p_col") == exactly(iid_model.collision_probability(samples))
    assert a.lrs.w == iid_model.longest_repeat(iid_model.prepare(samples)[1])


def test_p_values_against_scipy_also_with_tens_of_thousands_of_degrees_of_freedom():
    # 10^6 8-bit samples: every pair expected more than 5 times, 65,280 degrees of
    # freedom, where e^-T/2 underflows any floating type but the p-value does not.
    from scipy.stats import chi2
    samples = random.Random("p-values").randbytes(10**6)
    a = veltrane.sp800_90b_iid(samples, seed=bytes(range(1, 33)))
    for test in (a.chi_square.independence, a.chi_square.goodness_of_fit):
        expected = chi2.sf(test.statistic, test.df)
        assert test.p_value == pytest.approx(expected, rel=1e-10)
    assert a.chi_square.independence.df == 256 * 255 and 0.001 < a.chi_square.independence.p_value < 0.999


@pytest.mark.parametrize("case", range(6))
def test_whole_runs_count_as_the_model_does(case):
    rng = random.Random(100 + case)
    values = rng.sample(range(256), [2, 5, 40][case % 3])
    samples = random_samples(case, rng.randrange(30, 120), values, bias=0.5 * (case // 3))
    seed = rng.randbytes(32)
    a = veltrane.sp800_90b_iid(samples, seed=seed)
    counters, rounds = iid_model.permutation_test(samples, seed)
    assert a.permutation.rounds == rounds
    assert {s.name: [s.c0, s.c1, s.c2] for s in a.permutation.statistics} == counters
    failed = [n for n, (c0, c1, c2) in counters.items() if c0 + c1 <= 5 or c1 + c2 <= 5]
    assert [s.name for s in a.permutation.statistics if not s.passed] == failed
    assert a.iid == (a.chi_square.passed and a.lrs.passed and a.permutation.passed)
    assert a.min_entropy == (a.initial_entropy if a.iid else None)


def test_a_seed_repeats_a_run_and_none_draws_one_that_does():
    samples = random_samples(7, 3000, list(range(16)))
    first = veltrane.sp800_90b_iid(samples)
    assert len(first.seed) == 64
    again = veltrane.sp800_90b_iid(samples, seed=first.seed)
    as_bytes = veltrane.sp800_90b_iid(samples, seed=bytes.fromhex(first.seed))
    assert first == again == as_bytes
    assert veltrane.sp800_90b_iid(samples, seed=first.seed.upper()) == first


def test_the_initial_entropy_and_its_conditioned_form():
    samples = random_samples(3, 5000, list(range(8)), bias=0.2)
    plain = veltrane.sp800_90b_iid(samples, seed=bytes(range(32, 64)))
    conditioned = veltrane.sp800_90b_iid(samples, seed=bytes(range(32, 64)), conditioned=True)
    mcv = veltrane.sp800_90b(samples).literal.most_common_value
    assert plain.literal == mcv and plain.h_original == mcv.min_entropy
    assert plain.bitstring.mode_count == max(sum(bin(s).count("1") for s in samples),
                                             3 * len(samples) - sum(bin(s).count("1") for s in samples))
    assert plain.initial_entropy == min(plain.h_original, 3 * plain.h_bitstring)
    assert conditioned.conditioned and conditioned.initial_entropy == conditioned.h_bitstring
    one_bit = veltrane.sp800_90b_iid(bytes(b & 1 for b in samples), seed=bytes(range(1, 33)), conditioned=True)
    assert one_bit.bitstring is None and one_bit.initial_entropy == one_bit.h_original


@pytest.mark.parametrize("seed,error", [
    ("00" * 31, ValueError), ("zz" * 32, ValueError), (b"\x01" * 31, ValueError), (bytes(32), ValueError),
    ("0" * 64, ValueError), (12345, TypeError), ([1] * 32, TypeError)])
def test_bad_seeds_are_refused_by_name(seed, error):
    with pytest.raises(error, match="seed"):
        veltrane.sp800_90b_iid(b"\x00\x01" * 50, seed=seed)


@pytest.mark.parametrize("data,kwargs,error,words", [
    (b"", {}, ValueError, "no samples"), (b"\x05", {"bits_per_symbol": 2}, ValueError, "does not fit"),
    (b"\x01", {"bits_per_symbol": 9}, ValueError, "bits_per_symbol"), ([1, 2], {}, TypeError, "list")])
def test_bad_data_is_refused(data, kwargs, error, words):
    with pytest.raises(error, match=words):
        veltrane.sp800_90b_iid(data, seed=bytes(range(1, 33)), **kwargs)


def test_tiny_inputs_give_undefined_tests_that_fail_not_a_crash():
    for samples in (b"\x00", b"\x01\x02", b"\x07" * 20, bytes(range(9))):
        a = veltrane.sp800_90b_iid(samples, seed=bytes(range(1, 33)))
        assert a.chi_square.passed is False and not a.iid
        assert a.chi_square.goodness_of_fit.p_value is None


def test_the_command_line_outputs(tmp_path, capsys):
    path = tmp_path / "samples.bin"
    path.write_bytes(random_samples(5, 4000, list(range(32))))
    seed = "ab" * 32
    assert main(["sp800-90b", "iid", "--seed", seed, "--json", str(path)]) == 0
    record = json.loads(capsys.readouterr().out)
    assert record["path"] == str(path) and record["seed"] == seed
    assert record == {"path": str(path), **json.loads(json.dumps(_as_dict(veltrane.sp800_90b_iid(
        path.read_bytes(), seed=seed))))}
    assert main(["sp800-90b", "iid", "--seed", seed, str(path)]) == 0
    summary = capsys.readouterr().out
    assert f"seed: {seed}" in summary and "permutation tests:" in summary
    assert main(["sp800-90b", "iid", "--seed", "12", str(path)]) == 2
    assert "64 hex digits" in capsys.readouterr().err
    assert main(["sp800-90b", "iid", str(tmp_path / "missing.bin")]) == 1
    assert capsys.readouterr().err.startswith(f"veltrane: {tmp_path / 'missing.bin'}: ")


def _as_dict(a):
    return json_ready(dataclasses.asdict(a))
