"""The default output: aligned tables for people."""
from __future__ import annotations

import math

from .._display import format_measure
from .._profile import Profile
from .._repeats import LeftOut
from .activity import display
from .output import Output
from .runner import ScannedInput

SHOWN_OFFSETS = 3
INDENT = " " * 12


class ScanTable:
    """One row of measures per input, its repeats (or why they were not searched) below it."""

    def __init__(self, output: Output) -> None:
        self.output = output

    def header(self) -> None:
        self.output.write(f"{'SIZE':>12}  {'SHANNON':>7}  {'METRIC':>6}  {'NORMAL':>6}  {'MIN-ENT':>7}  {'CHI2-P':>7}"
                          f"  {'SERIAL':>7}  INPUT\n")

    def record(self, item: ScannedInput) -> None:
        result = item.result
        m = result.measures
        lines = [
            f"{result.size:>12}  {format_measure(m.shannon_entropy):>7}  {format_measure(m.metric_entropy):>6}"
            f"  {format_measure(m.normalized_entropy):>6}  {format_measure(m.min_entropy):>7}"
            f"  {_probability(m.chi_square_p):>7}  {_correlation(m.serial_correlation):>7}  {display(item.path)}"
        ]
        if item.repeats_skipped is not None:
            lines.append(f"{INDENT}  repeats not searched: {item.repeats_skipped}")
        if item.longest_run is not None and item.longest_run[2] > 1:
            value, start, length = item.longest_run
            lines.append(f"{INDENT}  longest run of one byte: 0x{value:02x} x {length} at {start}")
        found = result.repeats
        if found:
            unit = "cp" if result.unit == "code points" else "B"
            lines.append(f"{INDENT}  {'#':>3}  {'COUNT x LENGTH':>18}  {'SAVED':>9}  {'PREVIEW':<50}  FIRST OFFSETS")
            for rank, (repeat, shown_preview) in enumerate(zip(found, item.previews), 1):
                offsets = ", ".join(str(start) for start in repeat.starts[:SHOWN_OFFSETS])
                more = repeat.count - min(repeat.count, SHOWN_OFFSETS)
                offsets += f" +{more} more" if more else ""
                quoted = shown_preview if item.binary and result.unit == "bytes" else f'"{shown_preview}"'
                lines.append(f"{INDENT}  {rank:>3}  {f'{repeat.count} x {repeat.length} {unit}':>18}"
                             f"  {(repeat.count - 1) * repeat.length:>9}  {quoted:<50}  {offsets}")
        if found is not None:
            reasons = _left_out(found.left_out)
            if reasons:
                lines.append(f"{INDENT}  left out: {reasons}")
        self.output.write("\n".join(lines) + "\n")


def _left_out(left: LeftOut) -> str:
    """Why candidates were not shown, so that a vanished zero run has its reason."""
    parts = [(left.periodic, "periodic (runs of one value, repeated units)"),
             (left.low_entropy, "below --min-entropy"),
             (left.not_maximal, "part of a longer repeat"),
             (left.few_non_overlapping, "too few non-overlapping occurrences")]
    return ", ".join(f"{count} {why}" for count, why in parts if count)


def _probability(p: float) -> str:
    # The chi-square probability: random data gives anything from 0.05 to 0.95;
    # compressed data often, encrypted data almost never, falls outside.
    if math.isnan(p):
        return "-"
    return "<0.0001" if p < 0.0001 else f"{p:.4f}"


def _correlation(r: float) -> str:
    return "-" if math.isnan(r) else f"{r + 0.0:+.4f}"


def profile_table(path: str, profile: Profile, windows: bool) -> str:
    scale = "H/8" if profile.measure == "metric" else "normalised"
    lines = [
        f"{display(path)}: {profile.size} bytes, {len(profile.offsets)} windows of {profile.window} bytes "
        f"every {profile.step}; {scale}; high {profile.high}, low {profile.low}"
    ]
    if windows:
        lines.append(f"{'OFFSET':>12}  {'VALUE':>6}")
        for offset, value in zip(profile.offsets, profile.values):
            lines.append(f"{offset:>12}  {format_measure(value):>6}  {'#' * round(value * 40)}")
    if profile.edges:
        lines.append(f"{'EDGE':>12}  {'OFFSET':>12}  {'HEX':>10}  VALUE")
        for edge in profile.edges:
            lines.append(f"{edge.direction:>12}  {edge.offset:>12}  {edge.offset:#10x}  {format_measure(edge.value)}")
    else:
        lines.append("no edges")
    for start, end in profile.regions:
        lines.append(f"high-entropy region {start}..{end} ({end - start} bytes)")
    return "\n".join(lines) + "\n"
