"""The SP 800-90B assessment as text: the short summary, NIST's tool's verbose layout, and JSON.

The verbose layout repeats the reference tool's labels, order and 17 significant
digits, so the two outputs can be compared line by line (`diff`).
"""
from __future__ import annotations

from collections.abc import Iterator
from typing import Union

from .._sp800_90b import Assessment, Collision, Compression, Prediction, Track
from .json_figures import path_and_fields

# Fewer samples than this make the tool warn that the estimates are less reliable.
RECOMMENDED_SAMPLES = 1_000_000


def figure(value: Union[float, int]) -> str:
    """A figure as the tool prints it: integers whole, floats to 17 significant digits."""
    if isinstance(value, int):
        return str(value)
    return format(value, ".17g")


def summary(path: str, a: Assessment) -> str:
    lines = [f"{path}: {a.samples} samples of {a.width} bits, {a.distinct} distinct"]
    if a.h_bitstring is not None:
        lines.append(f"H_bitstring: {figure(a.h_bitstring)}")
    lines.append(f"H_original: {figure(a.h_original)}")
    if a.h_bitstring is not None:
        lines.append(f"min(H_original, {a.width} X H_bitstring): {figure(a.min_entropy)}")
    else:
        lines.append(f"min-entropy: {figure(a.min_entropy)}")
    return "\n".join(lines) + "\n"


def verbose(path: str, a: Assessment) -> str:
    out = [f"Opening file: '{path}'",
           f"Loaded {a.samples} samples of {a.distinct} distinct {a.width}-bit-wide symbols"]
    if a.bitstring is not None:
        out.append(f"Number of Binary Symbols: {a.samples * a.width}")
    if a.translated:
        out += ["", "Symbols have been translated."]
    if a.samples < RECOMMENDED_SAMPLES:
        out += ["", f"*** Warning: data contains less than {RECOMMENDED_SAMPLES} samples ***", ""]
    out += list(_estimates(a))
    if a.h_bitstring is not None:
        out.append(f"H_bitstring = {figure(a.h_bitstring)}")
    out.append(f"H_original: {figure(a.h_original)}")
    out.append(f"Assessed min entropy: {figure(a.min_entropy)}")
    return "\n".join(out) + "\n"


def _estimates(a: Assessment) -> Iterator[str]:
    # The tool interleaves the tracks estimator by estimator, bitstring first; the
    # binary-only estimators and the tuple pair come track by track.
    tracks: list[tuple[str, Track]] = [("Literal", a.literal)]
    if a.bitstring is not None:
        tracks.insert(0, ("Bitstring", a.bitstring))
    for name, track in tracks:
        yield from _mcv(name, track)
    for name, track in tracks:
        yield from _binary(name, track)
    for name, track in tracks:
        yield from _tuples(name, track)
    for label, key in (("MultiMCW", "multi_mcw"), ("Lag", "lag"), ("MultiMMC", "multi_mmc"), ("LZ78Y", "lz78y")):
        for name, track in tracks:
            yield from _prediction(f"{name} {label} Prediction Estimate", getattr(track, key))


def _mcv(name: str, t: Track) -> Iterator[str]:
    e, p = t.most_common_value, f"{name} Most Common Value Estimate"
    yield f"{p}: Mode count = {e.mode_count}"
    yield f"{p}: p-hat = {figure(e.p_hat)}"
    yield f"{p}: p_u = {figure(e.p_u)}"
    yield f"{p}: min entropy = {figure(e.min_entropy)}"


def _root(prefix: str, found: bool) -> str:
    return f"{prefix}: Found p." if found else f"{prefix}: Could Not Find p. Proceeding with the lower bound for p."


def _mean_search(p: str, e: Union[Collision, Compression]) -> Iterator[str]:
    """The lines of an estimate that searches for the p whose expected mean is the bound X-bar'."""
    yield f"{p}: X-bar = {figure(e.x_bar)}"
    yield f"{p}: sigma-hat = {figure(e.sigma_hat)}"
    yield f"{p}: X-bar' = {figure(e.x_bar_prime)}"
    yield _root(p, e.found_p)
    yield f"{p}: p = {figure(e.p)}"
    yield f"{p}: min entropy = {figure(e.min_entropy)}"


def _binary(name: str, t: Track) -> Iterator[str]:
    if t.collision is not None:
        c, p = t.collision, f"{name} Collision Estimate"
        yield f"{p}: v = {c.v}"
        yield f"{p}: Sum t_i = {c.sum_t}"
        yield from _mean_search(p, c)
    if t.markov is not None:
        m, p = t.markov, f"{name} Markov Estimate"
        for label, value in (("P_0", m.p_0), ("P_1", m.p_1), ("P_{0,0}", m.p_00), ("P_{0,1}", m.p_01),
                             ("P_{1,0}", m.p_10), ("P_{1,1}", m.p_11), ("p-hat_max", m.p_hat_max),
                             ("min entropy", m.min_entropy)):
            yield f"{p}: {label} = {figure(value)}"
    if t.compression is not None:
        c2, p = t.compression, f"{name} Compression Estimate"
        yield from _mean_search(p, c2)


def _tuples(name: str, t: Track) -> Iterator[str]:
    p = f"{name} t-Tuple Estimate"
    if t.t_tuple is None:
        yield f"{p}: not applicable (no tuple occurs 35 times)"
    else:
        yield f"{p}: t = {t.t_tuple.t}"
        yield f"{p}: p-hat_max = {figure(t.t_tuple.p_hat_max)}"
        yield f"{p}: p_u = {figure(t.t_tuple.p_u)}"
        yield f"{p}: min entropy = {figure(t.t_tuple.min_entropy)}"
    p = f"{name} LRS Estimate"
    if t.lrs is None:
        yield f"{p}: not applicable (no substring longer than t repeats)"
    else:
        yield f"{p}: u = {t.lrs.u}"
        yield f"{p}: v = {t.lrs.v}"
        yield f"{p}: p-hat = {figure(t.lrs.p_hat)}"
        yield f"{p}: p_u = {figure(t.lrs.p_u)}"
        yield f"{p}: min entropy = {figure(t.lrs.min_entropy)}"


def _prediction(p: str, e: Prediction) -> Iterator[str]:
    yield f"{p}: C = {e.c}"
    yield f"{p}: r = {e.r}"
    yield f"{p}: N = {e.n}"
    yield f"{p}: P_global = {figure(e.p_global)}"
    yield f"{p}: P_global' = {figure(e.p_global_prime)}"
    yield f"{p}: P_local can't change the result." if e.p_local is None else f"{p}: P_local = {figure(e.p_local)}"
    yield f"{p}: min entropy = {figure(e.min_entropy)}"


def as_json(path: str, a: Assessment) -> str:
    """One JSON object: the path, then every field of the Assessment (nested), null where undefined."""
    return path_and_fields(path, a)
