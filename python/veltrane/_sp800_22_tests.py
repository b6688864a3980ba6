"""The figures of each SP 800-22 test on one sequence: its p-values and what NIST's program prints in stats.txt.

Every class has `p_values` (the sequence's p-values for that test, in the program's order; empty where the
test does not apply) and `labels` (what tells those p-values apart: "forward", a template, a state).
"""
from __future__ import annotations

from dataclasses import dataclass
from typing import Any

from ._measures import _Figures

__all__ = [
    "ApproximateEntropyTest", "BlockFrequencyTest", "CumulativeSumsTest", "DftTest", "ExcursionState",
    "FrequencyTest", "LinearComplexityTest", "LongestRunTest", "NonOverlappingTemplateTest", "OverlappingTemplateTest",
    "RandomExcursionsTest", "RandomExcursionsVariantTest", "RankTest", "RunsTest", "SerialTest", "TemplateMatch",
    "UniversalTest", "VariantState",
]


class _OneP:
    """A test with one p-value, `p_value`."""

    p_value: float

    @property
    def p_values(self) -> tuple[float, ...]:
        return (self.p_value,)

    @property
    def labels(self) -> tuple[str, ...]:
        return ("",)


class _ByState:
    """A random excursions test: a p-value per state of the walk (none where the test does not apply)."""

    states: tuple[Any, ...]

    @property
    def p_values(self) -> tuple[float, ...]:
        return tuple(s.p_value for s in self.states if s.p_value is not None)

    @property
    def labels(self) -> tuple[str, ...]:
        return tuple(f"{s.state:+d}" for s in self.states)


@dataclass(frozen=True, eq=False)
class FrequencyTest(_OneP, _Figures):
    """Frequency (monobit): S_n, ones minus zeros, and S_n / n."""

    sum: int
    ratio: float
    p_value: float


@dataclass(frozen=True, eq=False)
class BlockFrequencyTest(_OneP, _Figures):
    """Frequency within blocks of `block_length` bits; `discarded` bits after the last block."""

    chi_square: float
    blocks: int
    block_length: int
    discarded: int
    p_value: float


@dataclass(frozen=True, eq=False)
class CumulativeSumsTest(_Figures):
    """Cumulative sums: the largest |partial sum| from the start (forward) and from the end (backward)."""

    forward_max: int
    backward_max: int
    p_forward: float
    p_backward: float

    @property
    def p_values(self) -> tuple[float, ...]:
        return (self.p_forward, self.p_backward)

    @property
    def labels(self) -> tuple[str, ...]:
        return ("forward", "backward")


@dataclass(frozen=True, eq=False)
class RunsTest(_OneP, _Figures):
    """Runs: the share of ones `pi`, the number of runs V and the statistic erfc is taken of.

    When |pi - 1/2| >= 2/sqrt(n) the frequency prerequisite fails (`prerequisite` False): the test is not
    performed and its p-value is 0, as the standard says; `runs` and `statistic` are then None.
    """

    pi: float
    prerequisite: bool
    runs: int | None
    statistic: float | None
    p_value: float


@dataclass(frozen=True, eq=False)
class LongestRunTest(_OneP, _Figures):
    """The longest run of ones in blocks: counts per class, the first class being "at most `first`".

    The classes are: at most `first`, then each length, then the last at least `first + len(counts) - 1`.
    """

    blocks: int
    block_length: int
    first: int
    counts: tuple[int, ...]
    probabilities: tuple[float, ...]
    chi_square: float
    p_value: float


@dataclass(frozen=True, eq=False)
class RankTest(_OneP, _Figures):
    """Binary matrix rank of 32 x 32 matrices: classes full rank, one less, lower."""

    probabilities: tuple[float, float, float]
    counts: tuple[int, int, int]
    matrices: int
    discarded: int
    chi_square: float
    p_value: float


@dataclass(frozen=True, eq=False)
class DftTest(_OneP, _Figures):
    """Discrete Fourier transform: `below` of the first n/2 moduli under the threshold, `expected` 0.95 n/2."""

    below: int
    expected: float
    percentile: float
    d: float
    p_value: float


@dataclass(frozen=True, eq=False)
class TemplateMatch(_Figures):
    """One template of the non-overlapping test: its bits and its count in each block."""

    template: str
    counts: tuple[int, ...]
    chi_square: float
    p_value: float


@dataclass(frozen=True, eq=False)
class NonOverlappingTemplateTest(_Figures):
    """Non-overlapping template matching: every aperiodic template of `template_length` bits in `blocks` blocks.

    `mean` and `variance` are those of a block's count for a random sequence.
    """

    template_length: int
    blocks: int
    block_length: int
    mean: float
    variance: float
    templates: tuple[TemplateMatch, ...]

    @property
    def p_values(self) -> tuple[float, ...]:
        return tuple(t.p_value for t in self.templates)

    @property
    def labels(self) -> tuple[str, ...]:
        return tuple(t.template for t in self.templates)


@dataclass(frozen=True, eq=False)
class OverlappingTemplateTest(_OneP, _Figures):
    """Overlapping template matching of `template_length` ones: blocks with 0, 1, 2, 3, 4, 5 or more."""

    template_length: int
    block_length: int
    blocks: int
    lambda_: float
    eta: float
    counts: tuple[int, ...]
    probabilities: tuple[float, ...]
    chi_square: float
    p_value: float


@dataclass(frozen=True, eq=False)
class UniversalTest(_OneP, _Figures):
    """Maurer's universal statistical test: L, Q, K, the sum of log2 distances and its normal approximation.

    `applicable` is False only in compatible mode on sequences too short for it, where NIST's program
    reports p = 0 (and counts it in the second level); the other figures are then 0.
    """

    applicable: bool
    block_length: int
    initial_blocks: int
    test_blocks: int
    sum: float
    sigma: float
    variance: float
    expected: float
    phi: float
    discarded: int
    p_value: float


@dataclass(frozen=True, eq=False)
class ApproximateEntropyTest(_OneP, _Figures):
    """Approximate entropy: Phi(m), Phi(m+1), ApEn = Phi(m) - Phi(m+1) and chi^2 = 2n(ln 2 - ApEn)."""

    block_length: int
    chi_square: float
    phi_m: float
    phi_m1: float
    apen: float
    p_value: float


@dataclass(frozen=True, eq=False)
class ExcursionState(_Figures):
    """One state of the random excursions test: cycles visiting it 0, 1, 2, 3, 4, 5 or more times."""

    state: int
    counts: tuple[int, ...]
    chi_square: float | None
    p_value: float | None


@dataclass(frozen=True, eq=False)
class RandomExcursionsTest(_ByState, _Figures):
    """Random excursions, states -4..-1 and 1..4; not applicable (no p-values) below `constraint` cycles."""

    cycles: int
    constraint: float
    applicable: bool
    states: tuple[ExcursionState, ...]


@dataclass(frozen=True, eq=False)
class VariantState(_Figures):
    """One state of the random excursions variant: the walk's visits to it."""

    state: int
    visits: int
    p_value: float | None


@dataclass(frozen=True, eq=False)
class RandomExcursionsVariantTest(_ByState, _Figures):
    """Random excursions variant, states -9..-1 and 1..9; not applicable with too few cycles."""

    cycles: int
    applicable: bool
    states: tuple[VariantState, ...]


@dataclass(frozen=True, eq=False)
class SerialTest(_Figures):
    """Serial: psi^2 for m, m-1 and m-2 bits, their first and second differences and a p-value for each."""

    block_length: int
    psi_m: float
    psi_m1: float
    psi_m2: float
    del1: float
    del2: float
    p_value1: float
    p_value2: float

    @property
    def p_values(self) -> tuple[float, ...]:
        return (self.p_value1, self.p_value2)

    @property
    def labels(self) -> tuple[str, ...]:
        return ("del1", "del2")


@dataclass(frozen=True, eq=False)
class LinearComplexityTest(_OneP, _Figures):
    """Linear complexity of blocks: counts of T in the classes up to -2.5, ..., above 2.5."""

    block_length: int
    blocks: int
    discarded: int
    counts: tuple[int, ...]
    probabilities: tuple[float, ...]
    chi_square: float
    p_value: float


#: The class of each test's figures, by the test's name.
FIGURES: dict[str, Any] = {
    "frequency": FrequencyTest, "block_frequency": BlockFrequencyTest, "cumulative_sums": CumulativeSumsTest,
    "runs": RunsTest, "longest_run": LongestRunTest, "rank": RankTest, "dft": DftTest,
    "non_overlapping_template": NonOverlappingTemplateTest, "overlapping_template": OverlappingTemplateTest,
    "universal": UniversalTest, "approximate_entropy": ApproximateEntropyTest,
    "random_excursions": RandomExcursionsTest, "random_excursions_variant": RandomExcursionsVariantTest,
    "serial": SerialTest, "linear_complexity": LinearComplexityTest,
}

_NESTED: dict[str, tuple[str, Any]] = {
    "non_overlapping_template": ("templates", TemplateMatch),
    "random_excursions": ("states", ExcursionState),
    "random_excursions_variant": ("states", VariantState),
}


def figures_of(name: str, raw: dict[str, Any]) -> Any:
    """The typed figures of test `name` from the engine's dict."""
    nested = _NESTED.get(name)
    if nested is not None:
        field, kind = nested
        raw = {**raw, field: tuple(kind(**item) for item in raw[field])}
    return FIGURES[name](**raw)
