"""`measure`: every randomness figure of some bytes in one native pass, and the mergeable state behind it."""
from __future__ import annotations

from dataclasses import dataclass, fields
from typing import TYPE_CHECKING, Any

from . import _engine

if TYPE_CHECKING:
    from ._types import Bytes

__all__ = ["EntFigures", "Measures", "MeasureState", "measure", "measure_state"]


class _Figures:
    """Equality of figures bit for bit: an undefined (NaN) figure equals itself, -0.0 differs from 0.0.

    With float equality a result holding a NaN would not even equal itself.
    """

    def _identity(self) -> tuple[Any, ...]:
        return tuple(_float_identity(getattr(self, f.name)) for f in fields(self))  # type: ignore[arg-type]

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, _Figures) or other.__class__ is not self.__class__:
            return NotImplemented
        return self._identity() == other._identity()

    def __hash__(self) -> int:
        return hash(self._identity())


def _float_identity(value: Any) -> Any:
    if isinstance(value, float):
        return value.hex()
    if isinstance(value, _Figures):
        return value._identity()
    return value


@dataclass(frozen=True, eq=False)
class EntFigures(_Figures):
    """The figures as Debian's `ent` computes and prints them, where its arithmetic differs from ours.

    Only the ent-compatible output uses them: `chi_square_p` is ent's series
    approximation (it differs from the exact value in the eighth digit or so),
    `entropy` its own summation, `compression` its truncated percent, and
    `serial_correlation_undefined` whether its denominator was exactly zero.
    """

    entropy: float
    compression: int
    chi_square_p: float
    serial_correlation_undefined: bool


@dataclass(frozen=True, eq=False)
class Measures(_Figures):
    """Every figure of some data, over its bytes or (with `bits`) its bits, most significant first.

    Undefined values are NaN: the statistics of empty data, the serial
    correlation of constant data, Monte Carlo π under 6 bytes. In bit mode
    sizes and counts are in bits and the entropies in bits per bit; Monte Carlo
    always uses the bytes.
    """

    bits: bool
    #: Bytes, or bits in bit mode.
    size: int
    #: 256 counts by byte value, or 2 (zeros, ones) in bit mode.
    histogram: tuple[int, ...]
    #: Bits per byte (per bit in bit mode), 0..8 (0..1).
    shannon_entropy: float
    #: H / 8 (H itself in bit mode).
    metric_entropy: float
    #: H over what random data of the same length is expected to score, at most 1.0.
    normalized_entropy: float
    #: -log2 of the largest frequency.
    min_entropy: float
    #: NIST SP 800-90B's most-common-value estimate: the upper 99.5% bound of the largest frequency, as -log2.
    min_entropy_mcv: float
    chi_square: float
    #: 255, or 1 in bit mode.
    chi_square_df: int
    #: The probability that random data exceeds `chi_square` (exact upper tail).
    chi_square_p: float
    #: Arithmetic mean of the byte (or bit) values; random data gives 127.5 (0.5).
    mean: float
    #: 4 * hits / groups over 6-byte groups (x and y of 24 bits each in the unit square).
    monte_carlo_pi: float
    #: 100 * |π - monte_carlo_pi| / π.
    monte_carlo_error: float
    #: Lag-1 correlation of consecutive values, the last paired with the first.
    serial_correlation: float
    #: How much an optimal order-0 coder would shrink the data, in percent: 100 * (8 - H) / 8 (1 for bits).
    compression: float
    ent: EntFigures


def measure(data: Bytes, *, bits: bool = False, case_fold: bool = False) -> Measures:
    """Every figure of `data`, in one parallel pass over it.

    `data` is any object with the buffer protocol, read as its raw bytes in
    place (bytes, bytearray, memoryview, mmap, array.array, numpy arrays of any
    dtype), or a str, measured over its UTF-8 bytes. With `bits` the figures are
    those of its bits, most significant first (as `ent -b`); `case_fold` first
    maps A-Z and the Latin-1 capitals to lower case (as `ent -f`). The
    interpreter lock is released while the engine computes.
    """
    return _engine.measure(data, bits, case_fold, Measures, EntFigures)


@dataclass(frozen=True)
class MeasureState:
    """The battery's state of one piece of an input, in a compact serialised form.

    States of consecutive pieces merge (`a + b`, or `a.merge(b)`) into exactly
    the state of their concatenation, so one input can be measured in pieces on
    different machines and the figures of the whole are bit-identical to one
    pass. `finish()` gives the figures once the pieces cover the input from its
    start. The `blob` travels as it is (pickle it, store it, send it).
    """

    blob: bytes

    def merge(self, later: MeasureState) -> MeasureState:
        """This piece followed by `later`, which must start where this one ends."""
        return MeasureState(_engine.merge_states(self.blob, later.blob))

    def __add__(self, later: MeasureState) -> MeasureState:
        return self.merge(later)

    def finish(self, *, bits: bool = False) -> Measures:
        """The figures of the whole input; the state must start at offset 0."""
        return _engine.finish(self.blob, bits, Measures, EntFigures)


def measure_state(data: Bytes, *, start: int = 0, case_fold: bool = False) -> MeasureState:
    """The state of `data` as the piece of a larger input that begins at byte offset `start`."""
    return MeasureState(_engine.state(data, start=start, case_fold=case_fold))
