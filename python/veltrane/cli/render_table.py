"""The default output: aligned tables for people."""
from __future__ import annotations

import math

from .._display import format_measure
from .._profile import Profile
from .activity import display
from .output import Output
from .runner import ScannedInput

SHOWN_OFFSETS = 3
INDENT = " " * 12


class ScanTable:
    """One row of measures per input, its fragments (or why they were not searched) below it."""

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
        if item.fragments_skipped is not None:
            lines.append(f"{INDENT}  fragments not searched: {item.fragments_skipped}")
        if result.fragments:
            unit = "cp" if result.unit == "code points" else "B"
            lines.append(f"{INDENT}  {'LENGTH':>8}  {'COUNT':>6}  {'FIRST OFFSETS':<24}  PREVIEW")
            for fragment, shown_preview in zip(result.fragments, item.previews):
                starts = ", ".join(str(start) for start in fragment.starts[:SHOWN_OFFSETS])
                shown = starts + (", …" if fragment.count > SHOWN_OFFSETS else "")
                lines.append(f"{INDENT}  {f'{fragment.length} {unit}':>8}  {fragment.count:>6}  {shown:<24}"
                             f"  \"{shown_preview}\"")
        self.output.write("\n".join(lines) + "\n")


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
