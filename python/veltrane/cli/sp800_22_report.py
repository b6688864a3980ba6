"""`veltrane sp800-22 --report DIR`: the tree NIST's program (sts 2.1.2) writes, in its layout.

DIR/freq.txt (the bits of each sequence), DIR/finalAnalysisReport.txt (the second level), and a folder per
test named as the program names it, with stats.txt (each sequence's figures, see sp800_22_stats),
results.txt (each sequence's p-values, one a line) and, for the tests with several p-values, dataK.txt
(the K-th p-value of every sequence). Sequences are written as they come, a chunk at a time, so that a
long run holds none of them in memory.
"""
from __future__ import annotations

import pathlib
from collections import defaultdict

from .._sp800_22 import Run, Sp800_22Sequence, Sp800_22Series
from .._sp800_22_options import TESTS
from .sp800_22_stats import BLOCKS

PROGRAM_NAMES = dict(TESTS)
RULE = "-" * 78 + "\n"
DOTTED = "- " * 40 + "-\n"
BAR = "_" * 80 + "\n"
# Sequences written to disk at once.
FLUSH_EVERY = 64


class ReportTree:
    def __init__(self, directory: pathlib.Path, name: str, run: Run) -> None:
        self.directory, self.name, self.run = directory, name, run
        self.length = run.arguments.length
        self.pending: dict[pathlib.Path, list[str]] = defaultdict(list)
        self.waiting = 0
        directory.mkdir(parents=True, exist_ok=True)
        self.files = [directory / "freq.txt"]
        for test in run.tests:
            folder = directory / PROGRAM_NAMES[test]
            folder.mkdir(exist_ok=True)
            self.files += [folder / "stats.txt", folder / "results.txt"]
        for path in self.files:
            path.write_text("")
        self.pending[directory / "freq.txt"].append(f"{BAR}\n\t\tFILE = {name}\t\tALPHA = 0.0100\n{BAR}\n")

    def add(self, sequence: Sp800_22Sequence) -> None:
        self.pending[self.directory / "freq.txt"].append(
            f"\t\tBITSREAD = {self.length} 0s = {sequence.zeros} 1s = {sequence.ones}\n")
        for test in self.run.tests:
            figures = sequence.test(test)
            folder = self.directory / PROGRAM_NAMES[test]
            self.pending[folder / "stats.txt"].append(BLOCKS[test](figures, self.length))
            lines = results_lines(test, figures)
            self.pending[folder / "results.txt"] += lines
            if len(figures.labels) > 1:
                for k, line in enumerate(lines, 1):
                    self.pending[folder / f"data{k}.txt"].append(line)
        self.waiting += 1
        if self.waiting >= FLUSH_EVERY:
            self.flush()

    def flush(self) -> None:
        for path, pieces in self.pending.items():
            with path.open("a") as out:
                out.write("".join(pieces))
        self.pending.clear()
        self.waiting = 0

    def finish(self, series: tuple[Sp800_22Series, ...]) -> None:
        self.flush()
        (self.directory / "finalAnalysisReport.txt").write_text(final_report(self.name, series))


def results_lines(test: str, figures: object) -> list[str]:
    """The lines of results.txt for one sequence: its p-values, as the program writes them."""
    applicable = getattr(figures, "applicable", True)
    if not applicable:
        # The program writes zeros for the random excursions tests and nothing for the universal test.
        return [] if test == "universal" else ["0.000000\n"] * len(figures.labels)  # type: ignore[attr-defined]
    return [f"{p:f}\n" for p in figures.p_values]  # type: ignore[attr-defined]


def series_row(s: Sp800_22Series) -> str:
    counts = "".join(f"{c:3d} " for c in s.bins)
    name = PROGRAM_NAMES[s.test]
    if s.sequences == 0:
        return f"{counts}    ----     ------     {name}\n"
    p_value = "    ----    " if s.uniformity is None else f"{s.uniformity:9.6f} {' ' if s.uniformity_passed else '*'} "
    star = " " if s.proportion_passed else "*"
    return f"{counts}{p_value}{s.passed_count:4d}/{s.sequences:<4d} {star}  {name}\n"


def final_report(name: str, series: tuple[Sp800_22Series, ...]) -> str:
    out = [RULE, "RESULTS FOR THE UNIFORMITY OF P-VALUES AND THE PROPORTION OF PASSING SEQUENCES\n", RULE,
           f"   generator is <{name}>\n", RULE,
           " C1  C2  C3  C4  C5  C6  C7  C8  C9 C10  P-VALUE  PROPORTION  STATISTICAL TEST\n", RULE]
    out += [series_row(s) for s in series]
    general = next((s for s in series if not s.test.startswith("random_excursions")), None)
    excursions = next((s for s in series if s.test.startswith("random_excursions")), None)
    out += ["\n\n", DOTTED, "The minimum pass rate for each statistical test with the exception of the\n"]
    if general is not None:
        out += [f"random excursion (variant) test is approximately = {general.least} for a\n",
                f"sample size = {general.sequences} binary sequences.\n"]
    out.append("\n")
    if excursions is None or excursions.sequences == 0:
        out.append("The minimum pass rate for the random excursion (variant) test is undefined.\n")
    else:
        out += ["The minimum pass rate for the random excursion (variant) test\n",
                f"is approximately = {excursions.least} for a sample size = {excursions.sequences} binary "
                "sequences.\n"]
    out += ["\n", "For further guidelines construct a probability table using the MAPLE program\n",
            "provided in the addendum section of the documentation.\n", DOTTED]
    return "".join(out)
