"""The SP 800-90B IID track as text: the short summary, NIST's tool's `ea_iid -vvv` layout, and JSON.

The verbose layout repeats the tool's labels, order and digits (17 significant
digits for doubles, 22 for the figures it prints from long doubles), so the two
outputs compare line by line with `diff`; it then adds two lines of its own: the
overall verdict, which the tool leaves out, and the seed that repeats the run.
"""
from __future__ import annotations

from collections.abc import Iterator
from decimal import ROUND_HALF_EVEN, Decimal, localcontext
from typing import Union

from .._sp800_90b_iid import IidAssessment, PermutationTest
from .json_figures import path_and_fields
from .render_sp800 import RECOMMENDED_SAMPLES, figure


def long_figure(value: Union[Decimal, float]) -> str:
    """A figure as the tool prints its long doubles and its statistics: C's %.22g."""
    if isinstance(value, float):
        return "%.22g" % value
    if value == 0:
        return "0"
    with localcontext() as context:
        context.prec, context.rounding = 22, ROUND_HALF_EVEN
        rounded = +value
    exponent = rounded.adjusted()
    sign = "-" if rounded < 0 else ""
    if -4 <= exponent < 22:
        text = format(abs(rounded), "f")
        return sign + (text.rstrip("0").rstrip(".") if "." in text else text)
    digits = "".join(map(str, rounded.as_tuple().digits)).rstrip("0") or "0"
    mantissa = digits[0] + ("." + digits[1:] if len(digits) > 1 else "")
    return f"{sign}{mantissa}e{'-' if exponent < 0 else '+'}{abs(exponent):02d}"


def passed(ok: bool) -> str:
    return "Passed" if ok else "Failed"


def verbose(path: str, a: IidAssessment, sha256: str) -> str:
    out = [f"Opening file: '{path}' (SHA-256 hash {sha256})",
           f"Loaded {a.samples} samples of {a.distinct} distinct {a.width}-bit-wide symbols"]
    if a.width > 1:
        out.append(f"Number of Binary samples: {a.samples * a.width}")
    if a.samples < RECOMMENDED_SAMPLES:
        out += ["", f"*** Warning: data contains less than {RECOMMENDED_SAMPLES} samples ***", ""]
    out += [f"Raw Mean = {figure(a.mean)}", f"Median = {figure(a.median)}",
            f"Binary = {'true' if a.distinct == 2 else 'false'}"]
    if a.h_bitstring is not None:
        out += [f"H_bitstring = {figure(a.h_bitstring)}",
                f"H_bitstring Per Symbol = {figure(a.width * a.h_bitstring)}"]
    out += [f"H_original = {figure(a.h_original)}", f"Assessed min entropy: {figure(a.initial_entropy)}"]
    out += list(_chi_square(a))
    lrs, prefix = a.lrs, "Literal Longest Repeated Substring results"
    out += [f"{prefix}: P_col = {long_figure(lrs.long_double('p_col'))}", f"{prefix}: W = {lrs.w}",
            f"{prefix}: Pr(X >= 1) = {long_figure(lrs.long_double('probability'))}",
            f"Length of longest repeated substring test: {passed(lrs.passed)}"]
    out += [f"Permutation testing: Unpermuted result {s.name} = {long_figure(s.original)}"
            for s in a.permutation.statistics]
    out += ["", "", *permutation_table(a.permutation), "", f"IID permutation tests: {passed(a.permutation.passed)}"]
    out += [verdict(a), f"Seed: {a.seed}"]
    return "\n".join(out) + "\n"


def permutation_table(p: PermutationTest) -> Iterator[str]:
    """The counters, as the tool lays them out: a star marks a failed statistic."""
    yield f"{'statistic':>25}{'C[i][0]':>9}{'C[i][1]':>9}{'C[i][2]':>9}"
    yield "-" * 52
    for s in p.statistics:
        yield f"{s.name + ('' if s.passed else '*'):>25}{s.c0:>8}{s.c1:>8}{s.c2:>8}"
    yield "(* denotes failed test)"


def _chi_square(a: IidAssessment) -> Iterator[str]:
    for label, test in (("independence", a.chi_square.independence),
                        ("goodness of fit", a.chi_square.goodness_of_fit)):
        yield f"Chi square {label}: T = {figure(test.statistic)}"
        yield f"Chi square {label}: df = {test.df}"
        yield f"Chi square {label}: P-value = {'nan' if test.p_value is None else figure(test.p_value)}"
    yield f"Chi square tests: {passed(a.chi_square.passed)}"


def verdict(a: IidAssessment) -> str:
    if a.iid:
        return f"IID assessment: Passed (chi-square, LRS and permutation tests); min entropy = {figure(a.initial_entropy)}"
    failed = [name for name, ok in (("chi-square", a.chi_square.passed), ("LRS", a.lrs.passed),
                                    ("permutation", a.permutation.passed)) if not ok]
    return f"IID assessment: Failed ({', '.join(failed)}); use the non-IID track's estimate (veltrane sp800-90b FILE)"


def summary(path: str, a: IidAssessment) -> str:
    chi = a.chi_square
    failing = [s.name for s in a.permutation.statistics if not s.passed]
    lines = [f"{path}: {a.samples} samples of {a.width} bits, {a.distinct} distinct",
             f"H_original: {figure(a.h_original)}"]
    if a.h_bitstring is not None:
        lines.append(f"H_bitstring: {figure(a.h_bitstring)}")
    lines += [f"initial entropy{' (conditioned: the bitstring, per bit)' if a.conditioned else ''}: "
              f"{figure(a.initial_entropy)}",
              f"chi-square tests: {passed(chi.passed).lower()} (independence p = {_p(chi.independence.p_value)}, "
              f"goodness of fit p = {_p(chi.goodness_of_fit.p_value)})",
              f"longest repeated substring test: {passed(a.lrs.passed).lower()} (W = {a.lrs.w}, "
              f"Pr(X >= 1) = {a.lrs.probability:.6g})",
              f"permutation tests: {passed(a.permutation.passed).lower()} after {a.permutation.rounds} rounds"
              + (f" ({', '.join(failing)} failed)" if failing else ""),
              verdict(a), f"seed: {a.seed}"]
    return "\n".join(lines) + "\n"


def _p(value: Union[float, None]) -> str:
    return "undefined (too few samples)" if value is None else f"{value:.6g}"


def as_json(path: str, a: IidAssessment) -> str:
    """One JSON object: the path, then every field of the IidAssessment (nested), null where undefined."""
    return path_and_fields(path, a)
