"""veltrane.sp800_90b_restart and `veltrane sp800-90b restart`: NIST's recorded runs and the API's contract.

The recorded runs of NIST's tool are matched line for line through the verbose
output, every figure of a line to 1e-10 relative, with one known difference: the
tool simulates the sanity check's cutoff, and for restart4 printed 179 where the
exact quantile (which we print) is 178.
"""
import json
import re

import pytest

import veltrane
from test_sp800_90b_iid import IID
from veltrane.cli import main

NUMBER = re.compile(r"-?\d+(?:\.\d+)?(?:e[-+]\d+)?")


def agree(ours, theirs):
    """The same words, and every number within 1e-10 relative."""
    if NUMBER.sub("#", ours) != NUMBER.sub("#", theirs):
        return False
    pairs = zip(map(float, NUMBER.findall(ours)), map(float, NUMBER.findall(theirs)))
    return all(a == b or abs(a - b) <= 1e-10 * abs(b) for a, b in pairs)


@pytest.mark.parametrize("name,h,width", [("restart4", "3.0", "4"), ("restart_bad1", "0.9", "1")])
def test_the_recorded_runs_agree_line_by_line(name, h, width, capsys):
    path = IID / f"{name}.bin"
    assert main(["sp800-90b", "restart", "-v", "--h-initial", h, "--bits", width, str(path)]) == 0
    ours = capsys.readouterr().out.splitlines()
    recorded = (IID / f"{name}.restart-n.res").read_text().splitlines()
    # Ours ends with a note on the cutoff.
    assert ours[-1].startswith("Note: X_cutoff is the exact quantile")
    assert len(ours) - 1 == len(recorded)
    assert ours[0] == recorded[0].replace(f"'{name}.bin'", f"'{path}'")
    differing = [(o, r) for o, r in zip(ours[1:-1], recorded[1:]) if not agree(o, r)]
    if name == "restart4":
        assert differing == [("ALPHA: 5.0251553006530614e-06, X_cutoff: 178",
                              "ALPHA: 5.0251553006530614e-06, X_cutoff: 179")]
    else:
        assert differing == []


def test_the_result_holds_the_assessments_and_the_verdict():
    data = (IID / "restart4.bin").read_bytes()
    t = veltrane.sp800_90b_restart(data, 3.0, bits_per_symbol=4)
    assert t.sanity.passed and t.sanity.x_max == max(t.sanity.x_rows, t.sanity.x_columns) == 148
    assert t.rows.non_iid.bitstring is None and t.columns.non_iid.bitstring is None
    assert t.rows.min_entropy == t.rows.non_iid.h_original and t.columns.min_entropy == t.columns.non_iid.h_original
    # The columns are the samples at the same place in every restart.
    columns = bytes(data[i * 1000 + j] for j in range(1000) for i in range(1000))
    assert t.columns.non_iid.literal == veltrane.sp800_90b(columns, bits_per_symbol=4).literal
    assert t.validation_passed and t.passed and t.min_entropy == min(t.rows.min_entropy, t.columns.min_entropy, 3.0)
    assert t.seed is None and t.notes == ()
    # A higher H_I than half the rows' entropy allows fails the validation.
    strict = veltrane.sp800_90b_restart(data, 4.0, bits_per_symbol=4)
    assert not strict.sanity.passed or not strict.validation_passed or strict.min_entropy == 4.0


def test_a_failed_sanity_check_skips_the_validation():
    t = veltrane.sp800_90b_restart((IID / "restart_bad1.bin").read_bytes(), 0.9, bits_per_symbol=1)
    assert not t.sanity.passed and t.sanity.x_max > t.sanity.x_cutoff
    assert t.rows is None and t.columns is None and not t.passed and t.min_entropy is None


@pytest.mark.parametrize("size,h,kwargs,error,words", [
    (999_999, 1.0, {}, ValueError, "1000000"), (1_000_000, 0.0, {}, ValueError, "h_initial"),
    (1_000_000, 9.0, {"bits_per_symbol": 8}, ValueError, "h_initial"),
    (1_000_000, float("nan"), {}, ValueError, "h_initial"), (1_000_000, "2", {}, TypeError, "h_initial"),
    (1_000_000, 1.0, {"iid": True, "seed": bytes(32)}, ValueError, "seed")])
def test_refusals_name_the_value(size, h, kwargs, error, words):
    data = (bytes(range(4)) * 250_000)[:size]
    with pytest.raises(error, match=words):
        veltrane.sp800_90b_restart(data, h, **kwargs)


def test_the_command_line_outputs(capsys):
    path = IID / "restart4.bin"
    assert main(["sp800-90b", "restart", "--json", "--h-initial", "3", str(path)]) == 0
    record = json.loads(capsys.readouterr().out)
    assert record["sanity"]["x_cutoff"] == 178 and record["passed"] is True and record["seed"] is None
    assert record["rows"]["non_iid"]["literal"]["t_tuple"]["t"] == 4
    assert main(["sp800-90b", "restart", "--h-initial", "3", str(path)]) == 0
    assert "restart tests: passed; min(H_r, H_c, H_I) = 3" in capsys.readouterr().out
    for bad in (["--h-initial", "0"], ["--h-initial", "x"], []):
        assert main(["sp800-90b", "restart", *bad, str(path)]) == 2
        capsys.readouterr()
