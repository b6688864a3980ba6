"""The SP 800-90B restart tests as text: the short summary, NIST's tool's `ea_restart -v` layout, and JSON.

The verbose layout repeats the tool's labels, order and digits, rows before
columns estimator by estimator, so that the outputs compare line by line with
`diff`; lines of our own follow at the end (why a figure may differ, the seed).
"""
from __future__ import annotations

from collections.abc import Iterator

from .._sp800_90b import Prediction, Track
from .._sp800_90b_restart import RestartDataset, RestartTest
from .json_figures import path_and_fields
from .render_sp800 import figure
from .render_sp800_iid import long_figure, passed, permutation_table

CUTOFF_NOTE = ("X_cutoff is the exact quantile; NIST's tool simulates it and may print one more "
               "(179 where the exact value is 178)")

PREDICTORS = (("MultiMCW", "multi_mcw", "Multi Most Common in Window (MultiMCW) Prediction Test Estimate"),
              ("Lag", "lag", "Lag Prediction Test Estimate"),
              ("MultiMMC", "multi_mmc", "Multi Markov Model with Counting (MultiMMC) Prediction Test Estimate"),
              ("LZ78Y", "lz78y", "LZ78Y Prediction Test Estimate"))


def verbose(path: str, t: RestartTest, sha256: str) -> str:
    s = t.sanity
    out = [f"Opening file: '{path}' (SHA-256 hash {sha256})",
           f"Loaded {t.samples} samples made up of {t.distinct} distinct {t.width}-bit-wide symbols.",
           f"H_I: {t.h_initial:f}", f"ALPHA: {figure(s.alpha)}, X_cutoff: {s.x_cutoff}", f"X_max: {s.x_max}", ""]
    if not s.passed:
        out.append("*** Restart Sanity Check Failed ***")
    else:
        out += ["Restart Sanity Check Passed...", "Calculating baseline statistics...", ""]
        assert t.rows is not None and t.columns is not None
        out += list(_iid(t, t.rows, t.columns)) if t.iid else list(_non_iid(t, t.rows, t.columns))
        out += ["", f"H_r: {t.rows.min_entropy:f}", f"H_c: {t.columns.min_entropy:f}", f"H_I: {t.h_initial:f}", ""]
        if t.validation_passed:
            out += ["Validation Test Passed...", "", f"min(H_r, H_c, H_I): {t.min_entropy:f}", ""]
        else:
            out += ["*** Validation Test Failed ***", ""]
    out += [f"Note: {note}" for note in (CUTOFF_NOTE, *t.notes)]
    if t.seed is not None:
        out.append(f"Seed: {t.seed}")
    return "\n".join(out) + "\n"


def _bits(t: RestartTest, h: float) -> str:
    return f"{h:f} / {t.width} bit(s)"


def _non_iid(t: RestartTest, rows: RestartDataset, columns: RestartDataset) -> Iterator[str]:
    assert rows.non_iid is not None and columns.non_iid is not None
    both = (("Rows", rows.non_iid.literal), ("Cols", columns.non_iid.literal))
    yield "Running non-IID tests..."
    yield ""
    yield "Running Most Common Value Estimate..."
    for side, track in both:
        m = track.most_common_value
        yield f"Literal MCV Estimate: mode = {m.mode_count}, p-hat = {figure(m.p_hat)}, p_u = {figure(m.p_u)}"
        yield f"\tMost Common Value Estimate ({side}) = {_bits(t, m.min_entropy)}"
    if rows.non_iid.literal.collision is not None:
        yield ""
        yield "Running Entropic Statistic Estimates (bit strings only)..."
        yield from _binary(t, both)
    yield ""
    yield "Running Tuple Estimates..."
    for _, track in both:
        if track.t_tuple is not None:
            e = track.t_tuple
            yield (f"Literal t-Tuple Estimate: t = {e.t}, p-hat_max = {long_figure(e.p_hat_max)}, "
                   f"p_u = {long_figure(e.p_u)}")
        if track.lrs is not None:
            r = track.lrs
            yield f"Literal LRS Estimate: u = {r.u}, v = {r.v}, p-hat = {figure(r.p_hat)}, p_u = {figure(r.p_u)}"
    for label, key in (("T-Tuple", "t_tuple"), ("LRS", "lrs")):
        for side, track in both:
            estimate = getattr(track, key)
            if estimate is not None:
                yield f"\t{label} Test Estimate ({side}) = {_bits(t, estimate.min_entropy)}"
    yield ""
    yield "Running Predictor Estimates..."
    for name, key, summary_label in PREDICTORS:
        for side, track in both:
            yield _prediction(name, getattr(track, key))
            yield f"\t{summary_label} ({side}) = {_bits(t, getattr(track, key).min_entropy)}"


def _binary(t: RestartTest, both: tuple[tuple[str, Track], ...]) -> Iterator[str]:
    for side, track in both:
        c = track.collision
        assert c is not None
        yield f"Literal Collision Estimate: X-bar = {figure(c.x_bar)}, sigma-hat = {figure(c.sigma_hat)}, p = {figure(c.p)}"
        yield f"\tCollision Test Estimate ({side}) = {_bits(t, c.min_entropy)}"
    for side, track in both:
        m = track.markov
        assert m is not None
        yield (f"Literal Markov Estimate: P_0 = {figure(m.p_0)}, P_1 = {figure(m.p_1)}, P_0,0 = {figure(m.p_00)}, "
               f"P_0,1 = {figure(m.p_01)}, P_1,0 = {figure(m.p_10)}, P_1,1 = {figure(m.p_11)}, "
               f"p_max = {figure(m.p_hat_max)}")
        yield f"\tMarkov Test Estimate ({side}) = {_bits(t, m.min_entropy)}"
    for side, track in both:
        z = track.compression
        assert z is not None
        yield (f"Literal Compression Estimate: X-bar = {figure(z.x_bar)}, sigma-hat = {figure(z.sigma_hat)}, "
               f"p = {figure(z.p)}")
        yield f"\tCompression Test Estimate ({side}) = {_bits(t, z.min_entropy)}"


def _prediction(name: str, e: Prediction) -> str:
    local = "Plocal can't affect result" if e.p_local is None else f"Plocal = {figure(e.p_local)}"
    return f"Literal {name} Prediction Estimate: N = {e.n}, Pglobal' = {figure(e.p_global_prime)} (C = {e.c}) {local} (r = {e.r})"


def _iid(t: RestartTest, rows: RestartDataset, columns: RestartDataset) -> Iterator[str]:
    yield "Running IID tests..."
    yield ""
    yield "Running Most Common Value Estimate..."
    for side, dataset in (("Rows", rows), ("Cols", columns)):
        m = dataset.most_common_value
        assert m is not None
        yield f"Literal MCV Estimate: mode = {m.mode_count}, p-hat = {figure(m.p_hat)}, p_u = {figure(m.p_u)}"
        yield f"\tMost Common Value Estimate ({side}) = {_bits(t, m.min_entropy)}"
    for side, dataset in (("Rows", rows), ("Cols", columns)):
        assert dataset.permutation is not None
        yield ""
        yield f"Running permutation tests ({side})..."
        yield from permutation_table(dataset.permutation)
        yield f"IID permutation tests ({side}): {passed(dataset.permutation.passed)}"


def summary(path: str, t: RestartTest) -> str:
    s = t.sanity
    lines = [f"{path}: {t.samples} samples of {t.width} bits ({t.distinct} distinct), H_I = {figure(t.h_initial)}",
             f"sanity check: {passed(s.passed).lower()} (X_max = {s.x_max}, X_cutoff = {s.x_cutoff}, "
             f"alpha = {s.alpha:.6g})"]
    if t.rows is not None and t.columns is not None:
        lines.append(f"validation ({'IID' if t.iid else 'non-IID'}): {passed(t.validation_passed).lower()} "
                     f"(H_r = {figure(t.rows.min_entropy)}, H_c = {figure(t.columns.min_entropy)})")
    lines.append(f"restart tests: {passed(t.passed).lower()}" + (
        f"; min(H_r, H_c, H_I) = {figure(t.min_entropy)}" if t.min_entropy is not None else ""))
    if t.seed is not None:
        lines.append(f"seed: {t.seed}")
    return "\n".join(lines) + "\n"


def as_json(path: str, t: RestartTest) -> str:
    """One JSON object: the path, then every field of the RestartTest (nested), null where undefined."""
    return path_and_fields(path, t)
