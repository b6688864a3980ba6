"""A conditioning component's output entropy as text and as JSON.

The text gives h_out to 22 significant digits in the layout of NIST's tool (C's
%.22g: trailing zeros dropped), the figures behind it and the full-entropy verdict
with its reason.
"""
from __future__ import annotations

import dataclasses
import json
from dataclasses import dataclass
from decimal import Decimal
from typing import Any, Union

from .._conditioning import Conditioning
from .._conditioning_exact import FULL_ENTROPY_MARGIN, NON_VETTED_SHARE, PRINTED_DIGITS
from .json_figures import json_ready

_BOUND_NAMES = {"psi": "psi", "omega": "omega", "0.999 n_out": "0.999 x n_out", "h' n_out": "h' x n_out"}


@dataclass(frozen=True)
class HPrimeSource:
    """Where a non-vetted function's h' came from: the command line (no path), or an assessment of a file."""

    path: Union[str, None] = None
    samples: int = 0
    width: int = 0

    @property
    def estimate(self) -> str:
        """The assessment's figure taken as h': per bit, so the bitstring's for samples wider than a bit."""
        return "H_original" if self.width == 1 else "H_bitstring"


def tool_digits(value: Decimal) -> str:
    """A decimal of at most 22 significant digits as C's %.22g prints it."""
    if value == 0:
        return "0"
    sign, digits, _ = value.as_tuple()
    text = "".join(map(str, digits)).rstrip("0")
    lead = value.adjusted()
    minus = "-" if sign else ""
    if lead < -4 or lead >= PRINTED_DIGITS:
        mantissa = text[0] + ("." + text[1:] if len(text) > 1 else "")
        return f"{minus}{mantissa}e{'-' if lead < 0 else '+'}{abs(lead):02d}"
    if lead < 0:
        return f"{minus}0.{'0' * (-lead - 1)}{text}"
    if len(text) <= lead + 1:
        return minus + text + "0" * (lead + 1 - len(text))
    return f"{minus}{text[:lead + 1]}.{text[lead + 1:]}"


def _number(value: Union[float, int, None]) -> str:
    """A figure's shortest exact form: 400 rather than 400.0, 0.9 rather than 0.90000000000000002."""
    if value is None:
        return "below 2^-1022"
    if isinstance(value, int) or (value.is_integer() and abs(value) < 2**53):
        return str(int(value))
    return repr(value)


def _source_text(source: HPrimeSource) -> str:
    if source.path is None:
        return "given"
    return f"{source.estimate} of {source.path}: {source.samples} samples of {source.width} bits"


def _verdict(c: Conditioning) -> str:
    if not c.vetted:
        return "full entropy: no (a non-vetted function's h_out is at most 0.999 x n_out)"
    conditions = (f"h_out > 0.999 x n_out = {_number(float(NON_VETTED_SHARE * c.n_out))} and "
                  f"h_in >= n_out + {FULL_ENTROPY_MARGIN} = {c.n_out + FULL_ENTROPY_MARGIN}")
    return f"full entropy: yes ({conditions})" if c.full_entropy else f"full entropy: no (needs {conditions})"


def as_text(c: Conditioning, source: Union[HPrimeSource, None] = None, h_in_written: Union[Decimal, None] = None,
            h_prime_written: Union[Decimal, None] = None) -> str:
    """The figures, with h_in and h' as written when given (the dataclass holds the doubles nearest them)."""
    h_in = _number(c.h_in) if h_in_written is None else str(h_in_written)
    h_prime = _number(c.h_prime) if h_prime_written is None else str(h_prime_written)
    lines = [
        f"conditioning: {'vetted' if c.vetted else 'non-vetted'} function",
        f"n_in: {c.n_in}",
        f"n_out: {c.n_out}",
        f"nw: {c.nw}",
        f"h_in: {h_in}",
    ]
    if not c.vetted:
        lines.append(f"h': {h_prime} ({_source_text(source or HPrimeSource())})")
    lines += [
        f"n = min(n_out, nw, n_in): {c.n}",
        f"psi: {_number(c.psi)} (-log2: {_number(c.h_psi)})",
        f"omega: {_number(c.omega)} (-log2: {_number(c.h_omega)})",
    ]
    if not c.vetted:
        lines.append(f"Output_Entropy: {_number(c.output_entropy)}")
    lines += [
        f"h_out: {tool_digits(c.h_out_digits)} (limited by {_BOUND_NAMES[c.limited_by]})",
        _verdict(c),
    ]
    return "\n".join(lines) + "\n"


def as_json(c: Conditioning, source: Union[HPrimeSource, None] = None) -> str:
    """One object: every field of Conditioning (h_out_digits as its text), null for what is undefined or
    infinite, and where h' came from."""
    record: dict[str, Any] = {f.name: json_ready(getattr(c, f.name)) for f in dataclasses.fields(c)}
    record["h_out_digits"] = tool_digits(c.h_out_digits)
    if not c.vetted:
        s = source or HPrimeSource()
        record["h_prime_source"] = None if s.path is None else {
            "path": s.path, "estimate": s.estimate, "samples": s.samples, "width": s.width}
    return json.dumps(record) + "\n"
