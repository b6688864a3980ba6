"""CSV output for spreadsheets and for scripts written against ent's terse layout."""
from __future__ import annotations

import csv
import io
from collections.abc import Sequence
from typing import Any

from .._profile import Profile
from .output import Output
from .runner import ScannedInput

# ent's terse (-t) layout begins with these columns; scripts written for it read
# the row marker, the size and the entropy from the same places here.
SCAN_CSV_HEADER = ["0", "File-bytes", "Entropy", "Metric-entropy", "Normalized-entropy", "Min-entropy", "File"]
PROFILE_CSV_HEADER = ["offset", "end", "value"]


def csv_line(row: Sequence[Any]) -> str:
    buffer = io.StringIO()
    csv.writer(buffer, lineterminator="\n").writerow(row)
    return buffer.getvalue()


class ScanCsv:
    """A header line, then one row per input; floats with all their digits."""

    def __init__(self, output: Output) -> None:
        self.output = output

    def header(self) -> None:
        self.output.write(csv_line(SCAN_CSV_HEADER))

    def record(self, item: ScannedInput) -> None:
        result = item.result
        self.output.write(csv_line([
            1, result.size, repr(result.shannon_entropy), repr(result.metric_entropy),
            repr(result.normalized_entropy), repr(result.min_entropy), item.path,
        ]))


def profile_csv(profile: Profile) -> str:
    lines = [csv_line(PROFILE_CSV_HEADER)]
    for offset, value in zip(profile.offsets, profile.values):
        lines.append(csv_line([offset, min(offset + profile.window, profile.size), repr(value)]))
    return "".join(lines)
