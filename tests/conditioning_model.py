"""SP 800-90B's conditioning formulas (3.1.5) in exact rationals with rigorous bounds: the tests' reference.

Written apart from veltrane's decimal intervals, in binary and from first
principles: ln 2 from its series sum 1/(k 2^k), 2^-h as 2^-floor(h) over
exp(frac(h) ln 2) from the exponential series and its remainder, square roots by
integer isqrt, log2 bit by bit (square the mantissa; a bit is 1 when the square
reaches 2), and psi and omega straight from the standard's P_high and P_low.
Every bound is a Fraction; the working precision doubles until the doubles asked
for are decided.
"""
import math
from decimal import ROUND_HALF_EVEN, Context, Decimal
from fractions import Fraction

INFINITY = float("inf")
_TWENTY_TWO = Context(prec=22, rounding=ROUND_HALF_EVEN)


def _ln2(bits):
    """Bounds on ln 2: the series' partial sum, and it plus the remainder's bound 1/((K+1) 2^K)."""
    terms = bits + 8
    low = sum((Fraction(1, k << k) for k in range(1, terms + 1)), Fraction(0))
    return low, low + Fraction(1, (terms + 1) << terms)


def _exp_bounds(y, bits):
    """Bounds on e^y for y = a / 2^bits in [0, 1]: the series in fixed point, each term rounded
    down for the lower bound; rounded up, and with the tail (at most twice the last term), for the upper."""
    a, one = y.numerator * ((1 << bits) // y.denominator), 1 << bits
    low, term, k = one, one, 0
    while term:
        k += 1
        term = term * a // (one * k)
        low += term
    high, term, k = one, one, 0
    while term > 1:
        k += 1
        term = -(-term * a // (one * k))
        high += term
    return Fraction(low, one), Fraction(high + 2 * term + 2, one)


def _dyadic(x, bits, up):
    """x rounded to a multiple of 2^-bits, down or up: keeps the Fractions small."""
    scaled = x * (1 << bits)
    whole = math.ceil(scaled) if up else math.floor(scaled)
    return Fraction(whole, 1 << bits)


def _two_to_minus(h, ln2, bits):
    """Bounds on 2^-h, h >= 0."""
    whole = math.floor(h)
    part = h - whole
    scale = Fraction(1, 1 << whole)
    if part == 0:
        return scale, scale
    lowest = _exp_bounds(_dyadic(part * ln2[0], bits, up=False), bits)[0]
    highest = _exp_bounds(_dyadic(part * ln2[1], bits, up=True), bits)[1]
    return scale / highest, scale / lowest


def _sqrt(x, bits, up):
    scaled = x * (1 << (2 * bits))
    if up:
        root = math.isqrt(math.ceil(scaled))
        return Fraction(root if root * root == math.ceil(scaled) else root + 1, 1 << bits)
    return Fraction(math.isqrt(math.floor(scaled)), 1 << bits)


def _log2_mantissa(mantissa, bits, up):
    """Bounds on log2 of a mantissa in [1, 2), from `bits` bits of it in fixed point."""
    one = 1 << bits
    y = math.ceil(mantissa * one) if up else math.floor(mantissa * one)
    found = Fraction(0)
    for i in range(1, bits - 16):
        y = -((-y * y) >> bits) if up else (y * y) >> bits
        if y >= 2 * one:
            found += Fraction(1, 1 << i)
            y = (y + 1) >> 1 if up else y >> 1
    return found + Fraction(1, 1 << (bits - 17)) if up else found


def _minus_log2(x, bits, up):
    """A bound on -log2(min(x, 1)) for a rational x >= 0: from below when not `up`."""
    if x >= 1:
        return Fraction(0)
    if x == 0:
        return INFINITY
    exponent = x.numerator.bit_length() - x.denominator.bit_length()
    while Fraction(2) ** exponent > x:
        exponent -= 1
    while Fraction(2) ** (exponent + 1) <= x:
        exponent += 1
    # -log2 x = -exponent - log2(mantissa): its upper bound takes the mantissa's lower one.
    return -exponent - _log2_mantissa(x / Fraction(2) ** exponent, bits, up=not up)


def _digits_of(bounds):
    """The 22-significant-digit decimal every value between the bounds rounds to (half even), or None."""
    low, high = (_TWENTY_TWO.divide(Decimal(b.numerator), Decimal(b.denominator)) for b in bounds)
    return low if low == high else None


def _float_of(bounds):
    """The double every value between the bounds rounds to, or None."""
    low, high = (float(b) for b in bounds)
    return low if low == high else None


def model(n_in, n_out, nw, h_in, h_prime=None):
    """A dict: n, psi, omega, h_psi, h_omega, output_entropy, h_out (floats), h_out_digits (h_out to 22
    digits), limited_by, full_entropy.

    h_in and h_prime are Fractions (or ints); h_prime None for a vetted function.
    """
    nw = min(nw, n_in)
    n = min(n_out, nw)
    h_in, caps = Fraction(h_in), []
    if h_prime is not None:
        caps = sorted([(Fraction(999, 1000) * n_out, "0.999 n_out"), (Fraction(h_prime) * n_out, "h' n_out")],
                      key=lambda cap: cap[0])
    bits = 96
    while True:
        found = _attempt(n_in, n_out, n, h_in, caps, bits)
        if found is not None:
            return found
        bits *= 2


def enclosures(n_in, n, h_in, bits):
    """Bounds (low, high) on psi, omega, h_psi and h_omega at `bits` bits, and on the sign of psi - omega."""
    ln2 = _ln2(bits)
    p_high = _two_to_minus(h_in, ln2, bits)
    size = 2**n_in - 1
    spread = 2 ** (n_in - n)
    # P_low = (1 - P_high) / (2^n_in - 1) falls as P_high rises, and psi = 2^m P_low + P_high
    # rises with P_high (2^m <= 2^n_in - 1): each bound of psi takes P_high's bound on its side.
    p_low = ((1 - p_high[1]) / size, (1 - p_high[0]) / size)
    psi = tuple(spread * (1 - p) / size + p for p in p_high)
    root = (_sqrt(2 * n * spread * ln2[0], bits, up=False), _sqrt(2 * n * spread * ln2[1], bits, up=True))
    omega = ((spread + root[0]) * p_low[0], (spread + root[1]) * p_low[1])
    h_psi = (_minus_log2(psi[1], bits, up=False), _minus_log2(psi[0], bits, up=True))
    h_omega = (_minus_log2(omega[1], bits, up=False), _minus_log2(omega[0], bits, up=True))
    # psi - omega = P_high - root P_low: its sign without the 2^m P_low both hold.
    difference = (p_high[0] - root[1] * p_low[1], p_high[1] - root[0] * p_low[0])
    return dict(psi=psi, omega=omega, h_psi=h_psi, h_omega=h_omega, difference=difference)


def _attempt(n_in, n_out, n, h_in, caps, bits):
    e = enclosures(n_in, n, h_in, bits)
    psi, omega, h_psi, h_omega, difference = (e[k] for k in ("psi", "omega", "h_psi", "h_omega", "difference"))
    if difference[0] > 0:
        limited_by = "psi"
    elif difference[1] < 0:
        limited_by = "omega"
    else:
        return None
    h_out = (min(h_psi[0], h_omega[0]), min(h_psi[1], h_omega[1]))
    output_entropy = _float_of(h_out)
    if caps:
        cap, label = caps[0]
        if h_out[0] > cap:
            h_out, limited_by = (cap, cap), label
        elif not h_out[1] < cap:
            return None
    threshold = Fraction(999, 1000) * n_out
    full = False
    if h_in >= n_out + 64:
        full = True if h_out[0] > threshold else False if h_out[1] <= threshold else None
    figures = dict(n=n, psi=_float_of(psi), omega=_float_of(omega), h_psi=_float_of(h_psi),
                   h_omega=_float_of(h_omega), output_entropy=output_entropy, h_out=_float_of(h_out))
    if full is None or any(v is None for v in figures.values()):
        return None
    digits = _digits_of(h_out)
    if digits is None:
        return None
    return dict(figures, h_out_digits=digits, limited_by=limited_by, full_entropy=full)
