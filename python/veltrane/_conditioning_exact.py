"""The conditioning figures decided exactly: enclosures at a precision that doubles until each is settled.

Ziv's strategy on the rigorous intervals of _conditioning_bounds: a figure is
settled once every value of its interval rounds to the same double (to the same
22-digit decimal for the printed h_out, to the same side of a threshold for a
verdict). An exact value that is itself a double or a short decimal settles too;
the ties that would not (psi equal to omega, h_out equal to a cap or to
0.999 n_out) cannot happen for a vetted formula whose terms mix 2^-h_in with
the transcendental sqrt(ln 2), and between the two exact caps the order is
decided on rationals.
"""
from __future__ import annotations

from decimal import ROUND_HALF_EVEN, Context, Decimal
from fractions import Fraction
from typing import Literal, NamedTuple, Union

from ._conditioning_bounds import Enclosure, Interval, enclose

Bound = Literal["psi", "omega", "0.999 n_out", "h' n_out"]

#: Digits of h_out in the reference tool's printout.
PRINTED_DIGITS = 22
#: The share of n_out a non-vetted component can be credited with at most.
NON_VETTED_SHARE = Fraction(999, 1000)
#: Bits h_in must exceed n_out by for a full-entropy claim.
FULL_ENTROPY_MARGIN = 64
#: Where the precision search gives up (a few seconds in): only a near-tie the
#: formulas cannot produce would need more.
MAX_DIGITS = 2000
_STARTING_DIGITS = 40
_SMALLEST_NORMAL = 2.0**-1022
_PRINTED = Context(prec=PRINTED_DIGITS, rounding=ROUND_HALF_EVEN)


class Figures(NamedTuple):
    psi: Union[float, None]
    omega: Union[float, None]
    h_psi: float
    h_omega: float
    output_entropy: float
    h_out: float
    h_out_digits: Decimal
    limited_by: Bound
    full_entropy: bool


def settle(n_in: int, n_out: int, n: int, h_in: Fraction, h_prime: Union[Fraction, None]) -> Figures:
    """The figures of a vetted (h_prime None) or non-vetted function, n = min(n_out, nw, n_in)."""
    # Enough digits at once for the usual inputs, one more per decimal place of
    # n_in (2^n_in's exponent takes them from the mantissa of its logarithm).
    digits = _STARTING_DIGITS + len(str(n_in))
    caps = _caps(n_out, h_prime)
    threshold = NON_VETTED_SHARE * n_out
    # psi >= 2^-n, so h_out <= n: with n at or below the threshold the verdict
    # needs no digits (h_out may lie as close below it as 2^-n_in).
    may_be_full = h_in >= n_out + FULL_ENTROPY_MARGIN and n > threshold
    while digits <= MAX_DIGITS:
        found = _decide(enclose(n_in, n, h_in, digits), caps, may_be_full, threshold)
        if found is not None:
            return found
        digits *= 2
    raise ValueError(f"h_out of n_in={n_in}, n_out={n_out}, n={n}, h_in={h_in} is not settled within {MAX_DIGITS} "
                     "digits")


def _caps(n_out: int, h_prime: Union[Fraction, None]) -> list[tuple[Bound, Fraction]]:
    """A non-vetted function's caps on h_out, smallest first (0.999 n_out first on a tie)."""
    if h_prime is None:
        return []
    caps: list[tuple[Bound, Fraction]] = [("0.999 n_out", NON_VETTED_SHARE * n_out), ("h' n_out", h_prime * n_out)]
    return sorted(caps, key=lambda cap: cap[1])


def _decide(e: Enclosure, caps: list[tuple[Bound, Fraction]], may_be_full: bool,
            threshold: Fraction) -> Union[Figures, None]:
    """Every figure, or None while some interval is still too wide to settle one."""
    if e.psi_excess[0] > e.omega_excess[1]:
        limited_by: Bound = "psi"
    elif e.omega_excess[0] > e.psi_excess[1]:
        limited_by = "omega"
    else:
        return None
    output = (min(e.h_psi[0], e.h_omega[0]), min(e.h_psi[1], e.h_omega[1]))
    h_out: Union[Interval, Fraction] = output
    if caps:
        label, cap = caps[0]
        if output[0] > cap:
            limited_by, h_out = label, cap
        elif not output[1] < cap:
            return None
    psi, omega, h_psi, h_omega, output_entropy = (_nearest(x) for x in (e.psi, e.omega, e.h_psi, e.h_omega, output))
    if isinstance(h_out, Fraction):
        h_out_float: Union[float, None] = float(h_out)
        digits: Union[Decimal, None] = _PRINTED.divide(Decimal(h_out.numerator), Decimal(h_out.denominator))
        full: Union[bool, None] = False  # a cap is at most 0.999 n_out
    else:
        h_out_float, digits = _nearest(h_out), _printed(h_out)
        full = _above(h_out, threshold) if may_be_full else False
    if (psi is None or omega is None or h_psi is None or h_omega is None or output_entropy is None
            or h_out_float is None or digits is None or full is None):
        return None
    return Figures(psi=_normal(psi), omega=_normal(omega), h_psi=h_psi, h_omega=h_omega,
                   output_entropy=output_entropy, h_out=h_out_float, h_out_digits=digits, limited_by=limited_by,
                   full_entropy=full)


def _above(x: Interval, threshold: Fraction) -> Union[bool, None]:
    """Whether every value of x exceeds the threshold, or none does; None when x straddles it."""
    if x[0] > threshold:
        return True
    if x[1] <= threshold:
        return False
    return None


def _nearest(x: Interval) -> Union[float, None]:
    """The double nearest every value of x, if they share one."""
    low, high = float(x[0]), float(x[1])
    return low if low == high else None


def _printed(x: Interval) -> Union[Decimal, None]:
    """The 22-digit decimal nearest every value of x, if they share one."""
    low, high = _PRINTED.plus(x[0]), _PRINTED.plus(x[1])
    return low if low == high else None


def _normal(x: float) -> Union[float, None]:
    """x unless it lies below the normal doubles (where its float would have lost digits or all of it)."""
    return x if x == 0.0 or x >= _SMALLEST_NORMAL else None
