"""SP 800-22 results as text: the terminal's table (one line per test, in the order of NIST's final report) and
JSON with every figure, written sequence by sequence as the run goes."""
from __future__ import annotations

import dataclasses
import json
from collections.abc import Iterable
from typing import TextIO

from .._sp800_22 import Run, Sp800_22Sequence, Sp800_22Series
from .._sp800_22_options import TESTS
from .json_figures import json_ready
from .output import Output

PROGRAM_NAMES = dict(TESTS)


def test_line(test: str, series: list[Sp800_22Series], compatible: bool) -> str:
    judged = [s for s in series if s.sequences]
    name = PROGRAM_NAMES[test]
    if not judged:
        return f"{name:<24} {len(series):>6}  {'not applicable to any sequence':<38}  -\n"
    worst = min(judged, key=lambda s: (s.passed_count / s.sequences, s.label))
    passing = f"{worst.passed_count}/{worst.sequences}"
    if compatible:
        accepted = f"(at least {worst.least})"
    else:
        accepted = f"({worst.low:.4f}-{min(worst.high or 1.0, 1.0):.4f})"
    uniform = [s.uniformity for s in judged if s.uniformity is not None]
    uniformity = f"{min(uniform):.6f}" if uniform else "----"
    failing = sum(not s.passed for s in series)
    verdict = "pass" if not failing else f"FAIL ({failing} of {len(series)})" if len(series) > 1 else "FAIL"
    return f"{name:<24} {len(series):>6}  {passing:>9} {accepted:<17} {uniformity:>10}  {verdict}\n"


def table(name: str, run: Run, count: int, series: tuple[Sp800_22Series, ...]) -> str:
    a = run.arguments
    mode = "NIST's program's figures (--compatible)" if a.compatible else "the standard's text"
    kind = "ASCII '0'/'1' text" if a.ascii else "raw bytes"
    out = [f"{name}: {count} sequence{'s' if count != 1 else ''} of {a.length:,} bits ({kind}), {mode}\n\n",
           f"{'TEST':<24} {'SERIES':>6}  {'PASSING (WORST)':<27} {'UNIFORMITY':>10}  VERDICT\n"]
    for test in run.tests:
        out.append(test_line(test, [s for s in series if s.test == test], a.compatible))
    failing = [s for s in series if not s.passed]
    out.append("\n" + (f"FAIL: {len(failing)} of {len(series)} p-value series fail\n" if failing else
                       f"PASS: all {len(series)} p-value series pass\n"))
    if count < 55 and not a.compatible:
        out.append("uniformity is judged from 55 sequences on (fewer here)\n")
    for heading, lines in (("notes", run.notes), ("where the figures differ from NIST's program", run.differences)):
        if lines:
            out.append(f"\n{heading}:\n" + "".join(f"  {line}\n" for line in lines))
    return "".join(out)


class JsonStream:
    """One JSON object, its sequences written one at a time as they come."""

    def __init__(self, stream: TextIO, name: str, run: Run) -> None:
        self.output = Output(stream)
        a = run.arguments
        head = {"path": name, "length": a.length, "bits": "ascii" if a.ascii else "bytes",
                "compatible": a.compatible, "tests": list(run.tests),
                "parameters": dataclasses.asdict(run.parameters), "notes": list(run.notes),
                "differences": list(run.differences)}
        self.output.write(json.dumps(head)[:-1] + ', "sequences": [')
        self.first = True

    def add(self, sequence: Sp800_22Sequence) -> None:
        figures = {k: v for k, v in dataclasses.asdict(sequence).items() if v is not None}
        self.output.write(("" if self.first else ", ") + json.dumps(json_ready(figures)))
        self.first = False

    def finish(self, series: Iterable[Sp800_22Series], count: int) -> None:
        """The second level, after the sequences: `count` of them."""
        listed = list(series)
        rows = [json_ready({**dataclasses.asdict(s), "proportion": s.proportion}) for s in listed]
        self.output.write(f'], "sequence_count": {count}, "series": {json.dumps(rows)}, '
                          f'"passed": {json.dumps(all(s.passed for s in listed))}}}\n')
