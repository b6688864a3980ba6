"""Rigorous bounds on the conditioning quantities of SP 800-90B 3.1.5, at a chosen decimal precision.

Every quantity is an interval (low, high) of Decimals that contains its exact
value: sums, products and quotients round outwards (floor below, ceiling
above), and exp, ln and sqrt, which `decimal` rounds to nearest, are widened by
one unit in the last place. The cancellations a small h_in brings (1 - 2^-h_in,
and the entropy of a psi near 1) are avoided with series; any that remains
shows as a wide interval rather than as a wrong digit, and the caller raises the
precision until the intervals are narrow enough to decide what it needs (Ziv's
strategy).

psi is evaluated as (2^m + q (D - 2^m)) / D, with m = n_in - n, q = 2^-h_in and
D = 2^n_in - 1: the standard's 2^m P_low + P_high over one denominator, every
term non-negative, so that nothing cancels there.
"""
from __future__ import annotations

from dataclasses import dataclass
from decimal import (
    MAX_EMAX,
    MIN_EMIN,
    ROUND_CEILING,
    ROUND_FLOOR,
    ROUND_HALF_EVEN,
    Context,
    Decimal,
    DivisionByZero,
    InvalidOperation,
    Overflow,
)
from fractions import Fraction

Interval = tuple[Decimal, Decimal]

_ZERO, _ONE, _INFINITY = Decimal(0), Decimal(1), Decimal("Infinity")
_EXACT: Interval = (_ONE, _ONE)
# Below this 1 - e^-x and -ln(1 - y) are summed from their series: the direct forms would cancel.
_SERIES_BELOW = Decimal("0.0625")


@dataclass(frozen=True)
class Enclosure:
    """Intervals around psi, omega and the entropy each allows, -log2(min(x, 1)) (infinite for 0).

    psi and omega share the term 2^m / D; what each adds to it, times D, is
    psi_excess = q D and omega_excess = sqrt(2 n 2^m ln 2) (1 - q). Those decide
    which of the two is larger without the shared term's cancellation (psi and
    omega themselves can agree to hundreds of digits).
    """

    psi: Interval
    omega: Interval
    h_psi: Interval
    h_omega: Interval
    psi_excess: Interval
    omega_excess: Interval


def _negated(x: Interval) -> Interval:
    # copy_negate is exact; unary minus would round to the thread's default context.
    return x[1].copy_negate(), x[0].copy_negate()


class _Outward:
    """Interval arithmetic on Decimals of `digits` significant digits.

    Every operation goes through one of its contexts: Python's operators on
    Decimals would round to the thread's default context instead.
    """

    def __init__(self, digits: int) -> None:
        traps = [InvalidOperation, DivisionByZero, Overflow]
        self.down = Context(prec=digits, rounding=ROUND_FLOOR, Emax=MAX_EMAX, Emin=MIN_EMIN, traps=traps)
        self.up = Context(prec=digits, rounding=ROUND_CEILING, Emax=MAX_EMAX, Emin=MIN_EMIN, traps=traps)
        self.near = Context(prec=digits, rounding=ROUND_HALF_EVEN, Emax=MAX_EMAX, Emin=MIN_EMIN, traps=traps)
        self.ln2 = self._widen(self.near.ln(Decimal(2)))

    def _widen(self, nearest: Decimal) -> Interval:
        """The interval around a value rounded to nearest: one step each way covers its half-unit error."""
        return self.down.next_minus(nearest), self.up.next_plus(nearest)

    def exact(self, value: Fraction) -> Interval:
        numerator, denominator = Decimal(value.numerator), Decimal(value.denominator)
        return self.down.divide(numerator, denominator), self.up.divide(numerator, denominator)

    def add(self, a: Interval, b: Interval) -> Interval:
        return self.down.add(a[0], b[0]), self.up.add(a[1], b[1])

    def subtract(self, a: Interval, b: Interval, floor: Decimal = _ZERO) -> Interval:
        """a - b for a difference known to be at least `floor` (the bound below is raised to it)."""
        return max(floor, self.down.subtract(a[0], b[1])), self.up.subtract(a[1], b[0])

    def multiply(self, a: Interval, b: Interval) -> Interval:
        """For non-negative intervals."""
        return self.down.multiply(a[0], b[0]), self.up.multiply(a[1], b[1])

    def divide(self, a: Interval, b: Interval) -> Interval:
        """For a non-negative a and a positive b."""
        return self.down.divide(a[0], b[1]), self.up.divide(a[1], b[0])

    def sqrt(self, a: Interval) -> Interval:
        return max(_ZERO, self._widen(self.near.sqrt(a[0]))[0]), self._widen(self.near.sqrt(a[1]))[1]

    def exp(self, a: Interval) -> Interval:
        return self._widen(self.near.exp(a[0]))[0], self._widen(self.near.exp(a[1]))[1]

    def power_of_two(self, exponent: Interval) -> Interval:
        """2^x for x >= 0 (as exp(x ln 2)); exactly 1 for x = 0."""
        if exponent == (_ZERO, _ZERO):
            return _EXACT
        return self.exp(self.multiply(exponent, self.ln2))

    def negated_log2(self, a: Interval) -> Interval:
        """-log2(min(x, 1)) for x in a, x >= 0: 0 where x reaches 1, infinite where x is 0."""
        if a[1] >= _ONE:
            low = _ZERO
        elif a[1] == _ZERO:
            low = _INFINITY
        else:
            low = self.down.divide(self._widen(self.near.ln(a[1]))[1].copy_negate(), self.ln2[1])
        if a[0] >= _ONE:
            high = _ZERO
        elif a[0] == _ZERO:
            high = _INFINITY
        else:
            high = self.up.divide(self._widen(self.near.ln(a[0]))[0].copy_negate(), self.ln2[0])
        return low, high


    def minus_expm1_minus(self, x: Interval) -> Interval:
        """1 - e^-x for x >= 0; for a small x from its series, which does not cancel."""
        if x[1] >= _SERIES_BELOW:
            e = self.exp(_negated(x))
            return self.subtract(_EXACT, (e[0], min(e[1], _ONE)))
        return self._alternating(x[0], up=False), self._alternating(x[1], up=True)

    def _alternating(self, x: Decimal, up: bool) -> Decimal:
        """A bound on x - x^2/2! + x^3/3! - ... for 0 <= x < 1. Its terms shrink, so the partial sums
        bracket the limit: those ending on an added term lie above it, those ending on a subtracted one below."""
        total, larger, smaller, k = _ZERO, _ONE, _ONE, 0  # x^k/k! rounded up and down
        small_enough = self.down.multiply(x, self._unit_past_precision())
        while True:
            k += 1
            larger = self.up.divide(self.up.multiply(larger, x), k)
            smaller = self.down.divide(self.down.multiply(smaller, x), k)
            added = k % 2 == 1
            if added:
                total = (self.up if up else self.down).add(total, larger if up else smaller)
            else:
                total = (self.up if up else self.down).subtract(total, smaller if up else larger)
            if added == up and larger <= small_enough:
                return total

    def minus_log1p_minus(self, y: Interval) -> Interval:
        """-ln(1 - y) for 0 <= y <= y[1] < 1/16, from y + y^2/2 + y^3/3 + ... and a bound on its tail."""
        return self._logarithm_series(y[0], up=False), self._logarithm_series(y[1], up=True)

    def _logarithm_series(self, y: Decimal, up: bool) -> Decimal:
        rounding = self.up if up else self.down
        total, power, k = _ZERO, _ONE, 0
        small_enough = self.down.multiply(y, self._unit_past_precision())
        while True:
            k += 1
            power = rounding.multiply(power, y)
            total = rounding.add(total, rounding.divide(power, k))
            if power <= small_enough:
                break
        if up:  # the tail: at most y^(k+1) / ((k+1)(1 - y))
            tail = self.up.divide(self.up.multiply(power, y), self.down.multiply(k + 1, self.down.subtract(_ONE, y)))
            total = self.up.add(total, tail)
        return total

    def _unit_past_precision(self) -> Decimal:
        return Decimal(1).scaleb(-(self.near.prec + 2))


def enclose(n_in: int, n: int, h_in: Fraction, digits: int) -> Enclosure:
    """Bounds on psi, omega and their entropies for an n_in-bit input of h_in bits cut to n bits (1 <= n <= n_in)."""
    o = _Outward(digits)
    m = Decimal(n_in - n)
    two_m = o.power_of_two((m, m))
    # q = 2^-h_in = e^-x and 1 - q; for h_in = 0 exactly 1 and 0, so that P_low and omega are exactly 0.
    x = o.multiply(o.exact(h_in), o.ln2)
    q = _EXACT if h_in == 0 else o.exp(_negated(x))
    q = (q[0], min(q[1], _ONE))
    lost = o.minus_expm1_minus(x)
    denominator = o.subtract(o.power_of_two((Decimal(n_in), Decimal(n_in))), _EXACT, floor=_ONE)
    spare = o.subtract(denominator, two_m)  # 2^n_in - 1 - 2^m >= 0
    # 1 - psi = (1 - q) spare / D: near 1, psi's entropy comes from this, not from ln(psi).
    deficit = o.divide(o.multiply(lost, spare), denominator)
    if h_in == 0 or n_in == 1:
        # All of the input's probability, or a one-bit input whose one output
        # bit is the input itself (no spare values): psi is exactly 1.
        psi, h_psi = _EXACT, (_ZERO, _ZERO)
    elif deficit[1] < _SERIES_BELOW:
        psi = o.divide(o.add(two_m, o.multiply(q, spare)), denominator)
        h_psi = o.divide(o.minus_log1p_minus(deficit), o.ln2)
    else:
        psi = o.divide(o.add(two_m, o.multiply(q, spare)), denominator)
        h_psi = o.negated_log2(psi)
    spread = o.sqrt(o.multiply(o.multiply(o.exact(Fraction(2 * n)), two_m), o.ln2))
    omega = o.divide(o.multiply(o.add(two_m, spread), lost), denominator)
    return Enclosure(psi=psi, omega=omega, h_psi=h_psi, h_omega=o.negated_log2(omega),
                     psi_excess=o.multiply(q, denominator), omega_excess=o.multiply(spread, lost))

