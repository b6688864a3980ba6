"""`sp800_90b_iid`: NIST SP 800-90B's IID track, reproducible from a seed, with every figure NIST's tool prints."""
from __future__ import annotations

from dataclasses import dataclass
from decimal import Decimal, localcontext
from typing import TYPE_CHECKING, Any

from . import _engine
from ._measures import _Figures
from ._seed import Seed, seed_bytes
from ._sp800_90b import MostCommonValue

if TYPE_CHECKING:
    from ._types import Bytes

__all__ = [
    "ChiSquareTest",
    "ChiSquareTests",
    "IidAssessment",
    "LrsTest",
    "PermutationStatistic",
    "PermutationTest",
    "sp800_90b_iid",
]


@dataclass(frozen=True, eq=False)
class ChiSquareTest(_Figures):
    """One chi-square test (§5.2.1–5.2.2): passes at p ≥ 0.001.

    `df` is 0 or less, and `p_value` None, where the data is too short for the test (it then fails).
    """

    statistic: float
    df: int
    p_value: float | None
    passed: bool


@dataclass(frozen=True, eq=False)
class ChiSquareTests(_Figures):
    """Independence of neighbouring samples and goodness of fit across ten parts of the data."""

    independence: ChiSquareTest
    goodness_of_fit: ChiSquareTest
    passed: bool


@dataclass(frozen=True, eq=False)
class LrsTest(_Figures):
    """The longest-repeated-substring test (§5.2.3): W, P_col and Pr(X ≥ 1), which must be at least 0.001.

    NIST's tool computes P_col and Pr(X ≥ 1) in long double; the floats here are those values rounded
    (`long_double` gives them exactly, as the tool prints them).
    """

    w: int
    p_col: float
    probability: float
    passed: bool

    def long_double(self, name: str) -> Decimal:
        """The long double value of `p_col` or `probability`, exactly (the float itself if not known)."""
        exact: dict[str, Decimal] = self.__dict__.get("_long_double", {})
        return exact.get(name, Decimal(getattr(self, name)))


@dataclass(frozen=True, eq=False)
class PermutationStatistic(_Figures):
    """One of the 19 statistics: its value on the data and how many shuffles came above (c0), level (c1), below (c2).

    It fails when c0 + c1 ≤ 5 or c1 + c2 ≤ 5 after the last round.
    """

    name: str
    original: float
    c0: int
    c1: int
    c2: int
    passed: bool


@dataclass(frozen=True, eq=False)
class PermutationTest(_Figures):
    """The permutation test (§5.1): the statistics in NIST's order, the shuffles made, the verdict."""

    statistics: tuple[PermutationStatistic, ...]
    rounds: int
    passed: bool

    def __getitem__(self, name: str) -> PermutationStatistic:
        """A statistic by its name in the tool's output: `test["compression"]`, `test["periodicity(8)"]`."""
        for statistic in self.statistics:
            if statistic.name == name:
                return statistic
        raise KeyError(name)


@dataclass(frozen=True, eq=False)
class IidAssessment(_Figures):
    """The IID track of `samples` samples of `width` bits.

    `initial_entropy` is min(h_original, width × h_bitstring) in bits per sample, or, for conditioned
    data, the bitstring's estimate in bits per bit. The data is IID when the chi-square tests, the
    LRS test and the permutation test all pass; `min_entropy` is then the initial entropy, otherwise
    None (the standard then takes the non-IID track's estimate: `veltrane.sp800_90b`). `seed` (64 hex
    digits) repeats the run exactly.
    """

    samples: int
    width: int
    distinct: int
    mean: float
    median: float
    literal: MostCommonValue
    bitstring: MostCommonValue | None
    conditioned: bool
    h_original: float
    h_bitstring: float | None
    initial_entropy: float
    chi_square: ChiSquareTests
    lrs: LrsTest
    permutation: PermutationTest
    iid: bool
    min_entropy: float | None
    seed: str


def sp800_90b_iid(data: Bytes, *, bits_per_symbol: int | None = None, seed: Seed | None = None,
                  conditioned: bool = False) -> IidAssessment:
    """NIST SP 800-90B's IID track on `data`, one sample per byte: is the data IID, and its entropy if so.

    Every sample must be below 2**bits_per_symbol (1 to 8); None takes the width from the largest
    value. `seed`: 32 bytes or 64 hex digits; None draws one from the operating system, reported
    in the result so that the run can be repeated. A seed gives the counters of NIST's tool run
    with it on one thread, whatever the number of threads here. `conditioned`: the data is the
    output of a conditioning component, assessed by its bits alone. The shuffles run on the
    engine's worker pool without the interpreter lock; Ctrl-C stops them. Raises ValueError for
    empty data, a sample wider than declared, or a malformed seed.
    """
    return assess_iid(data, bits_per_symbol, seed, conditioned)


def assess_iid(data: Bytes, bits_per_symbol: int | None, seed: Seed | None, conditioned: bool,
               progress: Any = None) -> IidAssessment:
    """`sp800_90b_iid` with the engine's progress words (rounds counted, rounds at most)."""
    raw_seed = seed_bytes(seed)
    raw = _engine.sp800_90b_iid(data, bits_per_symbol, raw_seed, conditioned, progress)
    return iid_assessment(raw, raw_seed.hex())


def permutation_test_of(raw: dict[str, Any]) -> PermutationTest:
    """The typed permutation test of the engine's dict."""
    return PermutationTest(tuple(PermutationStatistic(**s) for s in raw["statistics"]), raw["rounds"], raw["passed"])


def iid_assessment(raw: dict[str, Any], seed: str) -> IidAssessment:
    """The typed result of the engine's dict."""
    literal = MostCommonValue(**raw["literal"])
    bitstring = None if raw["bitstring"] is None else MostCommonValue(**raw["bitstring"])
    chi = raw["chi_square"]
    lrs = raw["lrs"]
    with localcontext() as context:
        context.prec = 80  # two doubles' sum, exactly
        exact = {key: Decimal(lrs[key][0]) + Decimal(lrs[key][1]) for key in ("p_col", "probability")}
    lrs_test = LrsTest(lrs["w"], float(exact["p_col"]), float(exact["probability"]), lrs["passed"])
    # Beside the fields: equality, hashing and asdict() see the floats only.
    object.__setattr__(lrs_test, "_long_double", exact)
    iid = raw["iid"]
    return IidAssessment(
        samples=raw["samples"], width=raw["width"], distinct=raw["distinct"], mean=raw["mean"],
        median=raw["median"], literal=literal, bitstring=bitstring, conditioned=raw["conditioned"],
        h_original=literal.min_entropy, h_bitstring=None if bitstring is None else bitstring.min_entropy,
        initial_entropy=raw["initial_entropy"],
        chi_square=ChiSquareTests(ChiSquareTest(**chi["independence"]), ChiSquareTest(**chi["goodness_of_fit"]),
                                  chi["passed"]),
        lrs=lrs_test,
        permutation=permutation_test_of(raw["permutation"]),
        iid=iid, min_entropy=raw["initial_entropy"] if iid else None, seed=seed)
