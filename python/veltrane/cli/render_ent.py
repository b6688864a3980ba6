"""The output of Debian's `ent`, byte for byte: its report, its terse CSV rows and its counts table.

ent prints with C's printf, so two of its quirks are reproduced here: a value
computed as 0/0 (the chi-square, mean and Monte Carlo value of data too short
for them) prints "-nan", while one that went through fabs() prints "nan"; and
the probability above 99.99% reads "more than than", as in every ent.
"""
from __future__ import annotations

import math
from collections.abc import Iterator

from .._measures import Measures

# ent's own stand-in for an undefined serial correlation in its terse rows.
UNDEFINED_CORRELATION = -100000.0


def c_float(value: float, conversion: str = "f") -> str:
    """`value` as C's printf("%<conversion>") writes it, NaN with its sign."""
    if math.isnan(value):
        return "-nan" if math.copysign(1.0, value) < 0 else "nan"
    return ("%" + conversion) % value


def _zero_by_zero(value: float) -> float:
    # What ent gets for 0/0 on this platform: a NaN with the sign bit set.
    return -math.nan if math.isnan(value) else value


def _terse_correlation(measures: Measures) -> float:
    return UNDEFINED_CORRELATION if measures.ent.serial_correlation_undefined else measures.serial_correlation


def _percent(probability: float) -> str:
    if math.isnan(probability):
        return "nan"  # ent's probability of no samples: printed unsigned, whatever sign it computed
    if probability < 0.0001:
        return "less than 0.01"
    if probability > 0.9999:
        return "more than than 99.99"
    return c_float(100.0 * probability, "1.2f")


def terse_header(bits: bool) -> str:
    unit = "File-bits" if bits else "File-bytes"
    return f"0,{unit},Entropy,Chi-square,Mean,Monte-Carlo-Pi,Serial-Correlation"


def terse_values(measures: Measures) -> list[str]:
    """The values of ent's terse row "1,...": size, entropy, chi-square, mean, Monte Carlo pi, serial correlation."""
    return [
        str(measures.size),
        c_float(measures.ent.entropy),
        c_float(_zero_by_zero(measures.chi_square)),
        c_float(_zero_by_zero(measures.mean)),
        c_float(_zero_by_zero(measures.monte_carlo_pi)),
        c_float(_terse_correlation(measures)),
    ]


def _fraction(count: int, total: int) -> str:
    return c_float(count / total if total else -math.nan)


def terse_counts(measures: Measures) -> Iterator[str]:
    """ent -c -t: every value, zeros included, after the values row."""
    yield "2,Value,Occurrences,Fraction"
    for value, count in enumerate(measures.histogram):
        yield f"3,{value},{count},{_fraction(count, measures.size)}"


def _shown(value: int, bits: bool) -> bytes:
    # The raw byte where it is printable in Latin-1 (ent writes it unconverted), else a space.
    printable = not bits and (0x21 <= value <= 0x7E or 0xA1 <= value <= 0xFF)
    return bytes([value]) if printable else b" "


def counts_table(measures: Measures) -> bytes:
    """ent -c: the values that occur, then the total. Bytes, since the characters are raw Latin-1."""
    lines = [b"Value Char Occurrences Fraction"]
    for value, count in enumerate(measures.histogram):
        if count:
            lines.append(b"%3d   %s   %10d   %s" % (value, _shown(value, measures.bits), count,
                                                   _fraction(count, measures.size).encode()))
    lines.append(b"")
    lines.append(b"Total:    %10d   %s" % (measures.size, c_float(1.0).encode()))
    lines.append(b"")
    return b"\n".join(lines) + b"\n"


def report(measures: Measures) -> str:
    """ent's report, from "Entropy = ..." to the serial correlation."""
    unit = "bit" if measures.bits else "byte"
    if measures.ent.serial_correlation_undefined:
        correlation = "undefined (all values equal!)."
    else:
        correlation = f"{c_float(measures.serial_correlation, '1.6f')} (totally uncorrelated = 0.0)."
    pi_error = measures.monte_carlo_error
    return "\n".join([
        f"Entropy = {c_float(measures.ent.entropy)} bits per {unit}.",
        "",
        "Optimum compression would reduce the size",
        f"of this {measures.size} {unit} file by {measures.ent.compression} percent.",
        "",
        f"Chi square distribution for {measures.size} samples is "
        f"{c_float(_zero_by_zero(measures.chi_square), '1.2f')}, and randomly",
        f"would exceed this value {_percent(measures.ent.chi_square_p)} percent of the times.",
        "",
        f"Arithmetic mean value of data {unit}s is {c_float(_zero_by_zero(measures.mean), '1.4f')} "
        f"({'0.5' if measures.bits else '127.5'} = random).",
        f"Monte Carlo value for Pi is {c_float(_zero_by_zero(measures.monte_carlo_pi), '1.9f')} "
        f"(error {c_float(abs(pi_error), '1.2f')} percent).",
        f"Serial correlation coefficient is {correlation}",
    ]) + "\n"
