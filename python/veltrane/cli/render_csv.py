"""CSV output for spreadsheets and for scripts written against ent's terse layout."""
from __future__ import annotations

import csv
import io
from collections.abc import Sequence
from typing import Any

from .._profile import Profile
from .output import Output
from .render_ent import terse_header, terse_values
from .runner import ScannedInput

# After ent's seven terse columns (row marker, size, entropy, chi-square, mean,
# Monte Carlo pi, serial correlation, printed as ent prints them) come ours, with
# all their digits, and the input's name last: scripts written for `ent -t` read
# the first seven columns unchanged.
OUR_COLUMNS = ["Metric-entropy", "Normalized-entropy", "Min-entropy", "Min-entropy-MCV", "Chi-square-p", "File"]
SCAN_CSV_HEADER = terse_header(False).split(",") + OUR_COLUMNS
PROFILE_CSV_HEADER = ["offset", "end", "value"]


def csv_line(row: Sequence[Any]) -> str:
    buffer = io.StringIO()
    csv.writer(buffer, lineterminator="\n").writerow(row)
    return buffer.getvalue()


def _digits(value: float) -> str:
    return repr(value)  # every digit; nan for an undefined figure


class ScanCsv:
    """A header line, then one row per input."""

    def __init__(self, output: Output, bits: bool = False) -> None:
        self.output = output
        self.bits = bits

    def header(self) -> None:
        self.output.write(csv_line(terse_header(self.bits).split(",") + OUR_COLUMNS))

    def record(self, item: ScannedInput) -> None:
        m = item.result.measures
        self.output.write(csv_line([
            1, *terse_values(m), _digits(m.metric_entropy), _digits(m.normalized_entropy), _digits(m.min_entropy),
            _digits(m.min_entropy_mcv), _digits(m.chi_square_p), item.path,
        ]))


def profile_csv(profile: Profile) -> str:
    lines = [csv_line(PROFILE_CSV_HEADER)]
    for offset, value in zip(profile.offsets, profile.values):
        lines.append(csv_line([offset, min(offset + profile.window, profile.size), repr(value)]))
    return "".join(lines)

