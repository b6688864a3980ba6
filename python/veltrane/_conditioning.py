"""`sp800_90b_conditioning`: the entropy left after a conditioning component (SP 800-90B 3.1.5), exactly.

At the sizes in use (inputs of thousands of bits) the standard's quantities
underflow double precision and 1 - 2^-h_in cancels; here they are enclosed in
intervals at a decimal precision that doubles until every figure returned is
settled (_conditioning_exact, _conditioning_bounds): h_out is the double nearest
the exact value.
"""
from __future__ import annotations

import math
import numbers
from dataclasses import dataclass
from decimal import Decimal, InvalidOperation
from fractions import Fraction
from typing import Union

from ._conditioning_exact import Bound, settle
from ._measures import _Figures

__all__ = ["Conditioning", "sp800_90b_conditioning"]

#: What an entropy in bits may be given as; a float stands for its shortest decimal form.
Entropy = Union[int, float, str, Fraction, Decimal]
#: Bit counts stay exact in floats (and in every JSON reader) up to here.
MAX_BITS = 2**53
#: The decimal exponents an entropy may have (h_in is at most n_in <= 2**53 < 1e16).
SMALLEST_EXPONENT, LARGEST_EXPONENT = 100_000, 20
#: The same bound on a rational, as the bit lengths of its terms tell it (to within one bit).
SMALLEST_BITS = math.ceil(SMALLEST_EXPONENT * math.log2(10)) + 1


@dataclass(frozen=True, eq=False)
class Conditioning(_Figures):
    """The output entropy of a conditioning component, with the figures behind it.

    `n` is min(n_out, nw) once nw is cut to n_in. psi and omega are the
    standard's two bounds on the probability of the likeliest output (None when
    below the range of normal doubles); `h_psi` and `h_omega` the entropies they
    allow, -log2(min(x, 1)). `output_entropy` is min(h_psi, h_omega); a vetted
    component's h_out is that, a non-vetted one's min(output_entropy, 0.999 n_out,
    h_prime n_out), and `limited_by` names the term that gave it. Every float is
    the double nearest its exact value; `h_out_digits` is h_out correctly rounded
    to 22 significant digits, the reference tool's printout. `full_entropy`:
    h_out > 0.999 n_out and h_in >= n_out + 64 (never for a non-vetted component).
    """

    n_in: int
    n_out: int
    nw: int
    h_in: float
    vetted: bool
    h_prime: Union[float, None]
    n: int
    psi: Union[float, None]
    omega: Union[float, None]
    h_psi: float
    h_omega: float
    output_entropy: float
    h_out: float
    h_out_digits: Decimal
    limited_by: Bound
    full_entropy: bool


def sp800_90b_conditioning(n_in: int, n_out: int, nw: int, h_in: Entropy, *, vetted: bool = True,
                           h_prime: Union[Entropy, None] = None) -> Conditioning:
    """The entropy of a conditioning component's n_out-bit output from n_in bits holding h_in bits (3.1.5).

    nw is the narrowest internal width of the function. A vetted function
    (`vetted=True`) takes no h_prime; a non-vetted one needs it: the entropy per
    output bit measured on its outputs, 0 < h_prime <= 1. h_in and h_prime count
    as the decimal numbers given: a float as its shortest repr (60.22 is 60.22,
    not the double nearest it), or a str, int, Fraction or Decimal.
    Raises ValueError naming the parameter for an out-of-range or non-finite
    value, a bool for a number, or h_prime given to a vetted function (missing
    for a non-vetted one); TypeError for a value of another type.
    """
    n_in, n_out, nw = _bits("n_in", n_in), _bits("n_out", n_out), _bits("nw", nw)
    entropy_in = _exact("h_in", h_in)
    if entropy_in < 0 or entropy_in > n_in:
        raise ValueError(f"h_in must lie between 0 and n_in={n_in}, got {_shown(h_in)}")
    if not isinstance(vetted, bool):
        raise TypeError(f"vetted must be True or False, got {vetted!r}")
    share: Union[Fraction, None] = None
    if vetted and h_prime is not None:
        raise ValueError(f"h_prime is for non-vetted functions only; got h_prime={_shown(h_prime)} with vetted=True")
    if not vetted:
        if h_prime is None:
            raise ValueError("a non-vetted function needs h_prime, the entropy per bit of its outputs (0 < h' <= 1)")
        share = _exact("h_prime", h_prime)
        if not 0 < share <= 1:
            raise ValueError(f"h_prime must lie in (0, 1], got {_shown(h_prime)}")
    n = min(n_out, nw, n_in)
    f = settle(n_in, n_out, n, entropy_in, share)
    return Conditioning(n_in=n_in, n_out=n_out, nw=nw, h_in=float(entropy_in), vetted=vetted,
                        h_prime=None if share is None else float(share), n=n, **f._asdict())


def _bits(name: str, value: object) -> int:
    if isinstance(value, bool):
        raise ValueError(f"{name} must be a whole number of bits, got the bool {value!r}")
    if isinstance(value, numbers.Integral):
        bits = int(value)
    elif isinstance(value, (numbers.Number, Decimal)):
        raise ValueError(f"{name} must be a whole number of bits, got {value!r}")
    else:
        raise TypeError(f"{name} must be an int, got {type(value).__name__} {value!r}")
    if not 1 <= bits <= MAX_BITS:
        raise ValueError(f"{name} must be from 1 to {MAX_BITS} bits, got {bits}")
    return bits


def _exact(name: str, value: object) -> Fraction:
    """The exact rational an entropy argument stands for."""
    if isinstance(value, bool):
        raise ValueError(f"{name} must be a number of bits, got the bool {value!r}")
    if isinstance(value, str):
        try:
            parsed = Decimal(value.strip())
        except InvalidOperation:
            raise ValueError(f"{name} is not a number: {value!r}") from None
        return _finite(name, parsed, value)
    if isinstance(value, (numbers.Rational, Decimal)):
        return _finite(name, value, value)
    if isinstance(value, numbers.Real):
        as_float = float(value)
        if not math.isfinite(as_float):
            raise ValueError(f"{name} must be finite, got {as_float!r}")
        return Fraction(Decimal(repr(as_float)))
    raise TypeError(f"{name} must be a number (int, float, str, Fraction or Decimal), got {type(value).__name__} "
                    f"{value!r}")


def _finite(name: str, value: Union[Decimal, numbers.Rational], given: object) -> Fraction:
    # The magnitude is checked before the exact rational is built: 1e-99999999 would
    # take a numerator of a hundred million digits.
    if isinstance(value, Decimal):
        if not value.is_finite():
            raise ValueError(f"{name} must be finite, got {_shown(given)}")
        out_of_range = value != 0 and not -SMALLEST_EXPONENT <= value.adjusted() < LARGEST_EXPONENT
        exact = None if out_of_range else Fraction(value)
    else:
        exact = Fraction(value)
        out_of_range = exact != 0 and exact.denominator.bit_length() - exact.numerator.bit_length() > SMALLEST_BITS
    if out_of_range or exact is None:
        raise ValueError(f"{name} must be 0 or of a magnitude from 1e-{SMALLEST_EXPONENT} to "
                         f"1e{LARGEST_EXPONENT}, got {_shown(given)}")
    return exact


def _shown(value: object) -> str:
    """A value for a message: text quoted, numbers as written, one too long to print by its size."""
    if isinstance(value, str):
        return repr(value)
    try:
        return str(value)
    except ValueError:  # an int beyond the interpreter's limit on digits
        if isinstance(value, numbers.Rational):
            size = int(value.numerator).bit_length() - int(value.denominator).bit_length()
            return f"a {type(value).__name__} near 2^{size}"
        return f"a {type(value).__name__} too long to print"
