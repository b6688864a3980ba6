"""veltrane.sp800_90b_conditioning and `veltrane sp800-90b conditioning`.

Every output NIST's tool recorded, then a grid and random parameters against an
independent exact model (tests/conditioning_model.py: binary rationals with
rigorous bounds, where the package uses decimal intervals), the full-entropy
verdict on both sides of each of its thresholds, every refused argument, and
the command: its text, its JSON, its h' from a file, its errors.
"""
import json
import pathlib
import random
from decimal import Context, Decimal
from fractions import Fraction

import pytest
from conditioning_model import enclosures, model
from hypothesis import given, settings
from hypothesis import strategies as st

import veltrane
import veltrane.cli
from veltrane._conditioning_bounds import enclose
from veltrane.cli.render_sp800_conditioning import tool_digits

RECORDED = pathlib.Path(__file__).parent / "data" / "sp800_90b_iid" / "conditioning.txt"


def recorded_lines():
    for line in RECORDED.read_text().splitlines():
        if line.startswith("#") or not line.strip():
            continue
        left, tool = line.split(":")
        kind, *numbers = left.split()
        h_prime = numbers[4] if kind == "n" else None
        yield pytest.param([int(x) for x in numbers[:3]], numbers[3], h_prime, tool.strip(), id=line)


def conditioning(n_in, n_out, nw, h_in, h_prime=None):
    return veltrane.sp800_90b_conditioning(n_in, n_out, nw, h_in, vetted=h_prime is None, h_prime=h_prime)


def agrees_with_model(c, n_in, n_out, nw, h_in, h_prime=None):
    expected = model(n_in, n_out, nw, Fraction(h_in), None if h_prime is None else Fraction(h_prime))
    # psi and omega below the normal doubles are not given (their floats would have lost digits).
    for name in ("psi", "omega"):
        if 0.0 < expected[name] < 2.0**-1022:
            expected[name] = None
    return {name: getattr(c, name) for name in expected} == expected


@pytest.mark.parametrize("sizes, h_in, h_prime, tool", list(recorded_lines()))
def test_every_recorded_output_rounds_to_ours(sizes, h_in, h_prime, tool):
    c = conditioning(*sizes, float(h_in), None if h_prime is None else float(h_prime))
    assert c.h_out == float(tool)
    # The tool's 22 digits come from a 64-bit significand: ours, exact, agree within 4 of its units.
    assert abs(Fraction(tool) - Fraction(c.h_out_digits)) <= Fraction(tool) * 4 / 2**64
    assert agrees_with_model(c, *sizes, Fraction(h_in), h_prime)
    # A float stands for its shortest decimal, so the text of the number gives the same result.
    assert conditioning(*sizes, h_in, h_prime) == c


GRID = [
    (4096, 256, 4096, "4000.5", None),  # thousands of bits: psi and omega agree to hundreds of digits
    (8192, 512, 8192, "8191.999", None),
    (8192, 512, 300, "600.25", None),
    (3000, 64, 3000, "0.001", None),  # h_in near 0: 1 - 2^-h_in cancels
    (3000, 64, 3000, 1e-300, None),
    (1024, 128, 256, "1024", None),  # h_in = n_in
    (1024, 128, 256, "1023.999", None),
    (64, 32, 1000, "40", None),  # nw > n_in
    (64, 128, 64, "63.5", None),  # n_out > nw
    (256, 256, 256, "0", None),
    (1, 1, 1, "0.7", None),  # psi is 1, omega above 1
    (2, 1, 2, "1.5", None),
    (16, 16, 16, "16", None),
    (512, 256, 256, "300", "0.9"),
    (512, 256, 256, "498.4", "0.999"),  # both caps equal
    (512, 256, 256, "260", "1"),
    (128, 256, 256, "112.5", "0.0001"),
    (128, 256, 256, "112.5", Fraction(1, 3)),
    (4096, 1024, 4096, "1100", "0.99"),
    (100, 8, 8, "0.5", "0.5"),  # Output_Entropy below both caps
]


@pytest.mark.parametrize("n_in, n_out, nw, h_in, h_prime", GRID)
def test_a_grid_of_parameters_agrees_with_the_exact_model(n_in, n_out, nw, h_in, h_prime):
    c = conditioning(n_in, n_out, nw, h_in, h_prime)
    assert agrees_with_model(c, n_in, n_out, nw, Fraction(repr(h_in)) if isinstance(h_in, float) else h_in, h_prime)
    assert 0 <= c.h_out <= c.n and c.n == min(n_out, nw, n_in)


@settings(max_examples=80, deadline=None)
@given(st.integers(1, 2500), st.integers(1, 700), st.integers(1, 3000), st.integers(0, 1000),
       st.none() | st.integers(1, 10000), st.booleans())
def test_random_parameters_agree_with_the_exact_model(n_in, n_out, nw, h_share, h_prime, as_float):
    h_in = Fraction(h_share * n_in, 1000)
    if as_float:
        h_in = float(h_in)
    h_prime = None if h_prime is None else Fraction(h_prime, 10000)
    exact_h_in = Fraction(repr(h_in)) if as_float else h_in
    if exact_h_in > n_in:
        return
    c = conditioning(n_in, n_out, nw, h_in, h_prime)
    assert agrees_with_model(c, n_in, n_out, nw, exact_h_in, h_prime)


@settings(max_examples=60, deadline=None)
@given(st.integers(1, 1500), st.integers(1, 1600), st.integers(0, 1000), st.sampled_from([12, 30, 45, 90]))
def test_the_intervals_hold_the_exact_values_at_any_precision(n_in, n, h_share, digits):
    # What the settling rests on: each interval contains the exact value, here bracketed
    # much more tightly by the model.
    n = min(n, n_in)
    h_in = Fraction(h_share * n_in, 1000)
    ours = enclose(n_in, n, h_in, digits)
    exact = enclosures(n_in, n, h_in, bits=16 * digits)  # about five times as precise
    for name in ("psi", "omega", "h_psi", "h_omega"):
        low, high = getattr(ours, name)
        assert low <= exact[name][0] and exact[name][1] <= high, name


@pytest.mark.parametrize("h_in", ["1.234e-5000", "9.87654321e-99999"])
def test_an_h_in_far_below_the_doubles_is_evaluated_without_cancelling(h_in):
    # psi = 1 - (1 - 2^-h_in)(1 - 2^m / D), so h_out = h_in (1 - 2^-n - O(h_in)) for psi's
    # bound: with n = 256, h_in itself to 22 digits; and below every double.
    c = conditioning(4096, 256, 4096, h_in)
    assert c.h_out_digits == Context(prec=22).plus(Decimal(h_in))
    assert (c.h_out, c.psi, c.limited_by, c.full_entropy) == (0.0, 1.0, "psi", False)


@pytest.mark.parametrize("n_in, n_out, nw, h_in, full", [
    (2000, 1000, 1000, "2000", True),
    (2000, 1000, 999, "2000", False),  # h_out = 999 - 2^-1000 or so: just below 0.999 n_out
    (2000, 1000, 1000, "1064", True),  # h_in = n_out + 64
    (2000, 1000, 1000, "1063.99", False),
    # Beyond a double's digits: the float nearest is 1064.0, the number written is below it.
    (2000, 1000, 1000, "1063.9999999999999999999", False),
    (2000, 1000, 1000, Decimal("1064.0000000000000000001"), True),
])
def test_full_entropy_on_both_sides_of_each_threshold(n_in, n_out, nw, h_in, full):
    c = conditioning(n_in, n_out, nw, h_in)
    assert c.full_entropy is full
    assert agrees_with_model(c, n_in, n_out, nw, Fraction(h_in))
    # A non-vetted function is never credited with full entropy.
    assert not conditioning(n_in, n_out, nw, h_in, 1).full_entropy


@pytest.mark.parametrize("call, kind, words", [
    (dict(n_in=0), ValueError, "n_in must be from 1"),
    (dict(n_out=-3), ValueError, "n_out must be from 1"),
    (dict(nw=2**53 + 1), ValueError, "nw must be from 1"),
    (dict(n_in=512.0), ValueError, "n_in must be a whole number of bits, got 512.0"),
    (dict(nw=True), ValueError, "nw must be a whole number of bits, got the bool True"),
    (dict(n_out="256"), TypeError, "n_out must be an int, got str"),
    (dict(h_in=-0.5), ValueError, "h_in must lie between 0 and n_in=512, got -0.5"),
    (dict(h_in=512.5), ValueError, "h_in must lie between 0 and n_in=512"),
    (dict(h_in=float("nan")), ValueError, "h_in must be finite, got nan"),
    (dict(h_in=float("inf")), ValueError, "h_in must be finite"),
    (dict(h_in=Decimal("NaN")), ValueError, "h_in must be finite"),
    (dict(h_in="Infinity"), ValueError, "h_in must be finite"),
    (dict(h_in="lots"), ValueError, "h_in is not a number: 'lots'"),
    (dict(h_in=False), ValueError, "h_in must be a number of bits, got the bool False"),
    (dict(h_in=[400]), TypeError, "h_in must be a number"),
    (dict(h_in="1e-100001"), ValueError, "h_in must be 0 or of a magnitude from 1e-100000 to 1e20, got '1e-100001'"),
    (dict(h_in=Fraction(1, 10**100001)), ValueError, "from 1e-100000 to 1e20, got a Fraction near 2^-332196"),
    (dict(h_in=Decimal("1e999999999")), ValueError, "h_in must be 0 or of a magnitude from 1e-100000 to 1e20"),
    (dict(h_prime=0.5), ValueError, "h_prime is for non-vetted functions only"),
    (dict(vetted=False), ValueError, "a non-vetted function needs h_prime"),
    (dict(vetted=False, h_prime=0), ValueError, "h_prime must lie in (0, 1], got 0"),
    (dict(vetted=False, h_prime="1.0001"), ValueError, "h_prime must lie in (0, 1], got '1.0001'"),
    (dict(vetted=False, h_prime=float("nan")), ValueError, "h_prime must be finite"),
    (dict(vetted=False, h_prime=True), ValueError, "h_prime must be a number of bits, got the bool True"),
    (dict(vetted=1), TypeError, "vetted must be True or False, got 1"),
])
def test_bad_arguments_are_refused_with_their_name_and_value(call, kind, words):
    arguments = dict(n_in=512, n_out=256, nw=256, h_in=400.0) | call
    with pytest.raises(kind) as raised:
        veltrane.sp800_90b_conditioning(**arguments)
    assert words in str(raised.value)


@settings(max_examples=200)
@given(st.floats(min_value=5e-324, max_value=1e300))
def test_the_printed_digits_are_those_of_c_g_format(x):
    # Python's %-format of a float follows C's %.22g: the same digits, zeros, point and exponent.
    assert tool_digits(Context(prec=22).plus(Decimal(x))) == "%.22g" % x


# ---------------------------------------------------------------- the command


@pytest.fixture
def command(capsys):
    """Runs `veltrane sp800-90b conditioning ARGS...` through the command line's main."""
    def run(*args):
        capsys.readouterr()
        code = veltrane.cli.main(["sp800-90b", "conditioning", *map(str, args)])
        out, err = capsys.readouterr()
        return code, out, err

    return run


def test_text_gives_h_out_to_22_digits_and_the_verdict(command):
    code, out, err = command(256, 256, 256, 256)
    c = conditioning(256, 256, 256, 256)
    assert code == 0 and err == ""
    lines = out.splitlines()
    assert lines[0] == "conditioning: vetted function"
    assert f"h_out: {tool_digits(c.h_out_digits)} (limited by omega)" in lines
    assert lines[-1].startswith("full entropy: no (needs h_out > 0.999 x n_out = 255.744 and h_in >= n_out + 64")
    code, out, _ = command(512, 256, 256, "300", "--non-vetted", "--h-prime", "0.90")
    assert "h': 0.90 (given)" in out and "h_out: 230.4 (limited by h' x n_out)" in out
    # The numbers as written, where the nearest double would mislead: 1064.0 would meet n_out + 64.
    code, out, _ = command(2000, 1000, 1000, "1063.9999999999999999999")
    assert "h_in: 1063.9999999999999999999" in out.splitlines() and "full entropy: no" in out


def test_json_holds_every_field_in_one_object(command):
    code, out, _ = command(16, 8, 8, "0", "--json")
    record = json.loads(out)
    c = conditioning(16, 8, 8, 0)
    assert code == 0 and out.count("\n") == 1
    expected = {name: getattr(c, name) for name in c.__dataclass_fields__}
    # h_out_digits as its printed text; the infinite entropy of omega = 0 as null.
    expected |= {"h_out_digits": "0", "h_omega": None}
    assert record == expected
    code, out, _ = command(512, 256, 256, "300", "--non-vetted", "--h-prime", "0.9", "--json")
    assert json.loads(out)["h_prime_source"] is None and json.loads(out)["h_out"] == 230.4


@pytest.mark.parametrize("width, estimate", [(8, "h_bitstring"), (1, "h_original")])
def test_h_prime_from_a_file_is_its_per_bit_assessment(command, tmp_path, width, estimate):
    rng = random.Random(width)
    data = bytes(rng.randrange(1 << width) for _ in range(20000))
    path = tmp_path / "outputs.bin"
    path.write_bytes(data)
    h_prime = getattr(veltrane.sp800_90b(data, bits_per_symbol=width), estimate)
    code, out, err = command(512, 256, 256, 400, "--non-vetted", "--from", path, "--bits", width, "--json")
    record = json.loads(out)
    assert code == 0 and err == ""
    assert record["h_prime"] == h_prime
    assert record["h_out"] == conditioning(512, 256, 256, 400, h_prime).h_out
    assert record["h_prime_source"] == {"path": str(path), "estimate": "H_" + estimate[2:], "samples": 20000,
                                        "width": width}


@pytest.mark.parametrize("args, words", [
    ([512, 256, 256, 400, "--h-prime", "0.5"], "are for --non-vetted functions"),
    ([512, 256, 256, 400, "--non-vetted"], "--non-vetted needs h'"),
    ([512, 256, 256, 400, "--bits", "4"], "--bits is the sample width of the --from file"),
    ([512, 256, 256, 400, "--non-vetted", "--h-prime", "1.5"], "h_prime must lie in (0, 1], got 1.5"),
    ([512, 256, 256, 600], "h_in must lie between 0 and n_in=512, got 600"),
    ([512, 256, 256, "abc"], "argument H_IN: not a number: 'abc'"),
    ([512, 256, 256, "nan"], "argument H_IN: must be a finite number: 'nan'"),
    ([0, 256, 256, 1], "argument N_IN: must be 1 or more: '0'"),
    ([512, 256, 256, 400, "--non-vetted", "--h-prime", "0.5", "--from", "x"], "not allowed with argument"),
])
def test_usage_errors_exit_2_with_one_message(command, args, words):
    code, out, err = command(*args)
    assert code == 2 and out == ""
    message = [line for line in err.splitlines() if line.startswith("veltrane: ")]
    assert len(message) == 1 and words in message[0] and "Traceback" not in err


def test_an_unreadable_or_empty_file_exits_1_with_its_name(command, tmp_path):
    missing = tmp_path / "missing.bin"
    code, out, err = command(512, 256, 256, 400, "--non-vetted", "--from", missing)
    assert (code, out, err) == (1, "", f"veltrane: {missing}: No such file or directory\n")
    constant = tmp_path / "constant.bin"
    constant.write_bytes(bytes(5000))
    code, out, err = command(512, 256, 256, 400, "--non-vetted", "--from", constant, "--bits", 1)
    assert code == 1 and out == "" and err.startswith(f"veltrane: {constant}: ") and err.count("\n") == 1

