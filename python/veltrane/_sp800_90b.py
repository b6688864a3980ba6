"""`sp800_90b`: NIST SP 800-90B's non-IID min-entropy assessment, every estimator with its figures."""
from __future__ import annotations

from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

from . import _engine
from ._measures import _Figures

if TYPE_CHECKING:
    from ._types import Bytes

__all__ = [
    "Assessment",
    "Collision",
    "Compression",
    "LongestRepeatedSubstring",
    "Markov",
    "MostCommonValue",
    "Prediction",
    "TTuple",
    "Track",
    "sp800_90b",
]


@dataclass(frozen=True, eq=False)
class MostCommonValue(_Figures):
    """The most common value estimate (§6.3.1): its count, p-hat, the upper bound p_u."""

    mode_count: int
    p_hat: float
    p_u: float
    min_entropy: float


@dataclass(frozen=True, eq=False)
class Collision(_Figures):
    """The collision estimate (§6.3.2, binary data): `found_p` is False when the lower bound 0.5 was used."""

    v: int
    sum_t: int
    x_bar: float
    sigma_hat: float
    x_bar_prime: float
    found_p: bool
    p: float
    min_entropy: float


@dataclass(frozen=True, eq=False)
class Markov(_Figures):
    """The Markov estimate (§6.3.3, binary data): the first-order probabilities and the likeliest 128-bit path."""

    p_0: float
    p_1: float
    p_00: float
    p_01: float
    p_10: float
    p_11: float
    p_hat_max: float
    min_entropy: float


@dataclass(frozen=True, eq=False)
class Compression(_Figures):
    """The compression estimate (§6.3.4, binary data): Maurer-style distances of 6-bit blocks."""

    x_bar: float
    sigma_hat: float
    x_bar_prime: float
    found_p: bool
    p: float
    min_entropy: float


@dataclass(frozen=True, eq=False)
class TTuple(_Figures):
    """The t-tuple estimate (§6.3.5): t, the longest tuple length seen at least 35 times."""

    t: int
    p_hat_max: float
    p_u: float
    min_entropy: float


@dataclass(frozen=True, eq=False)
class LongestRepeatedSubstring(_Figures):
    """The longest-repeated-substring estimate (§6.3.6) over lengths u to v."""

    u: int
    v: int
    p_hat: float
    p_u: float
    min_entropy: float


@dataclass(frozen=True, eq=False)
class Prediction(_Figures):
    """A prediction estimate (§6.3.7–6.3.10): C correct out of N, r the longest run of them plus one.

    `p_local` is None where it cannot change the result.
    """

    c: int
    r: int
    n: int
    p_global: float
    p_global_prime: float
    p_local: float | None
    min_entropy: float


@dataclass(frozen=True, eq=False)
class Track(_Figures):
    """Every estimate over one view of the samples; None where an estimator does not apply.

    Collision, Markov and compression apply to binary data only; t-tuple needs a
    tuple seen 35 times, LRS a substring longer than t that repeats.
    """

    most_common_value: MostCommonValue
    collision: Collision | None
    markov: Markov | None
    compression: Compression | None
    t_tuple: TTuple | None
    lrs: LongestRepeatedSubstring | None
    multi_mcw: Prediction
    lag: Prediction
    multi_mmc: Prediction
    lz78y: Prediction
    min_entropy: float


@dataclass(frozen=True, eq=False)
class Assessment(_Figures):
    """The non-IID assessment of `samples` samples of `width` bits.

    `literal` assesses the samples as they are (renumbered 0..distinct-1 when
    `translated`); `bitstring` their most-significant-bit-first bits, for widths
    above 1. `min_entropy` is min(h_original, width × h_bitstring), in bits per sample.
    """

    samples: int
    width: int
    distinct: int
    translated: bool
    literal: Track
    bitstring: Track | None
    h_original: float
    h_bitstring: float | None
    min_entropy: float


_ESTIMATES: dict[str, type[_Figures]] = {
    "most_common_value": MostCommonValue,
    "collision": Collision,
    "markov": Markov,
    "compression": Compression,
    "t_tuple": TTuple,
    "lrs": LongestRepeatedSubstring,
    "multi_mcw": Prediction,
    "lag": Prediction,
    "multi_mmc": Prediction,
    "lz78y": Prediction,
}


def _track(raw: dict[str, Any]) -> Track:
    built: dict[str, Any] = {
        name: (None if raw[name] is None else kind(**raw[name])) for name, kind in _ESTIMATES.items()}
    return Track(**built, min_entropy=raw["min_entropy"])


def assessment_of(raw: dict[str, Any]) -> Assessment:
    """The typed result of the engine's dict."""
    bitstring = raw["bitstring"]
    return Assessment(
        **{**raw, "literal": _track(raw["literal"]), "bitstring": None if bitstring is None else _track(bitstring)}
    )


def sp800_90b(data: Bytes, *, bits_per_symbol: int | None = None) -> Assessment:
    """NIST SP 800-90B's non-IID min-entropy assessment of `data`, one sample per byte.

    Every sample must be below 2**bits_per_symbol (1 to 8); None takes the width
    from the largest value. The ten estimators of §6.3 run side by side on the
    engine's worker pool, without the interpreter lock; Ctrl-C stops them.
    Raises ValueError for empty data or a sample wider than declared.
    """
    return assess(data, bits_per_symbol)


def assess(data: Bytes, bits_per_symbol: int | None, progress: Any = None) -> Assessment:
    """`sp800_90b` with the engine's progress words: a writable buffer of two 64-bit
    words (estimators finished, estimators in all) that it updates as it goes."""
    return assessment_of(_engine.sp800_90b(data, bits_per_symbol, progress))
