"""`sp800_22`: NIST SP 800-22's fifteen statistical tests on sequences cut from data, and their second level."""
from __future__ import annotations

from array import array
from collections.abc import Iterable, Iterator
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Literal, Union

from . import _engine
from ._measures import _Figures
from ._sp800_22_tests import (ApproximateEntropyTest, BlockFrequencyTest, CumulativeSumsTest, DftTest, FrequencyTest,
                              LinearComplexityTest, LongestRunTest, NonOverlappingTemplateTest,
                              OverlappingTemplateTest, RandomExcursionsTest, RandomExcursionsVariantTest, RankTest,
                              RunsTest, SerialTest, UniversalTest, figures_of)
from ._sp800_22_options import Arguments, arguments_of, sequence_count

if TYPE_CHECKING:
    from ._types import Bytes

__all__ = ["Sp800_22Parameters", "Sp800_22Result", "Sp800_22Sequence", "Sp800_22Series", "sp800_22"]

# Sequences go to the engine in chunks of about this many bits, so that memory holds a few of them.
CHUNK_BITS = 1 << 26


@dataclass(frozen=True, eq=False)
class Sp800_22Parameters(_Figures):
    """The tests' parameters as the run used them: those the length decides resolved, 0 for a test not run."""

    block_frequency_block_length: int
    longest_run_block_length: int
    non_overlapping_template_length: int
    non_overlapping_blocks: int
    overlapping_template_length: int
    overlapping_block_length: int
    universal_block_length: int
    universal_initial_blocks: int
    linear_complexity_block_length: int
    serial_block_length: int
    approximate_entropy_block_length: int


@dataclass(frozen=True, eq=False)
class Sp800_22Sequence(_Figures):
    """One sequence's figures: a field per test, None for the tests that did not run."""

    index: int
    ones: int
    zeros: int
    frequency: FrequencyTest | None = None
    block_frequency: BlockFrequencyTest | None = None
    cumulative_sums: CumulativeSumsTest | None = None
    runs: RunsTest | None = None
    longest_run: LongestRunTest | None = None
    rank: RankTest | None = None
    dft: DftTest | None = None
    non_overlapping_template: NonOverlappingTemplateTest | None = None
    overlapping_template: OverlappingTemplateTest | None = None
    universal: UniversalTest | None = None
    approximate_entropy: ApproximateEntropyTest | None = None
    random_excursions: RandomExcursionsTest | None = None
    random_excursions_variant: RandomExcursionsVariantTest | None = None
    serial: SerialTest | None = None
    linear_complexity: LinearComplexityTest | None = None

    def test(self, name: str) -> Any:
        """The figures of the test `name` ("frequency", ..., "linear_complexity"), None if it did not run."""
        return getattr(self, name)


@dataclass(frozen=True, eq=False)
class Sp800_22Series(_Figures):
    """The second level of one p-value series (a test, and a template or state where it has several).

    `sequences` counts the sequences with a p-value in it (for the random excursions tests, those where the
    test applied); `bins` counts p-values in [0, 0.1), ..., [0.9, 1]. The proportion passing (p >= 0.01)
    must lie in [low, high], 0.99 -/+ 3 sqrt(0.99 x 0.01 / sequences); in compatible mode, as NIST's program
    judges it, the count of passes in [least, most], those bounds times the sequences, truncated.
    `uniformity` is the chi-square p-value of the bins (None where too few sequences: 55 by the standard,
    10 in compatible mode); uniform when at least 0.0001. `passed`: both hold.
    """

    test: str
    label: str
    sequences: int
    bins: tuple[int, ...]
    passed_count: int
    low: float | None
    high: float | None
    least: int | None
    most: int | None
    proportion_passed: bool
    uniformity: float | None
    uniformity_passed: bool
    passed: bool

    @property
    def proportion(self) -> float | None:
        """The share of sequences passing, None for an empty series."""
        return self.passed_count / self.sequences if self.sequences else None


@dataclass(frozen=True, eq=False)
class Sp800_22Result(_Figures):
    """NIST SP 800-22 on `len(sequences)` sequences of `length` bits.

    `series` holds the second level of every p-value series in the order of the program's final report;
    `passed` is True when every series passes. `notes` says which recommendations of the standard the run
    does not meet and which tests it left out; `differences` where the default mode's figures differ from
    NIST's program, and why (empty in compatible mode, which reproduces the program).
    """

    length: int
    bits: str
    compatible: bool
    tests: tuple[str, ...]
    parameters: Sp800_22Parameters
    sequences: tuple[Sp800_22Sequence, ...]
    series: tuple[Sp800_22Series, ...]
    passed: bool
    notes: tuple[str, ...]
    differences: tuple[str, ...]


def sp800_22(data: Bytes, *, length: int = 1_000_000, sequences: int | None = None,
             tests: Iterable[Union[str, int]] | None = None, bits: Literal["bytes", "ascii"] = "bytes",
             compatible: bool = False, **parameters: int | None) -> Sp800_22Result:
    """NIST SP 800-22 rev. 1a's statistical tests on `data` cut into sequences of `length` bits.

    `data` is read as raw bytes, most significant bit first (`bits="bytes"`), or as ASCII '0' and '1'
    characters with white space between (`bits="ascii"`). `sequences` sequences are taken from the start
    (all that fit by default). `tests`: names ("frequency", "dft", ...; NIST's program's names and numbers
    1-15 too), all fifteen by default; of those, the ones the length rules out are left out with a note,
    where a test named explicitly is refused. `parameters` set the tests' parameters (see
    `Sp800_22Parameters`; the defaults are NIST's program's). `compatible=True` reproduces NIST's
    program (sts 2.1.2) exactly, its faults included; the default follows the standard's text, and
    `differences` says where that changes a figure. The sequences run on the engine's worker pool without
    the interpreter lock, Ctrl-C stops them, and the result does not depend on the number of threads.

    Raises ValueError naming the parameter or test that is out of range, or when the data is too short.
    """
    run = Run(arguments_of(length, tests, bits, compatible, parameters))
    count = sequence_count(data, run.arguments, sequences)
    return run.result(tuple(run.sequences(data, count)))


class Run:
    """A checked run: its plan, its sequences chunk by chunk, and their second level."""

    def __init__(self, arguments: Arguments) -> None:
        a = self.arguments = arguments
        plan = _engine.sp800_22_plan(a.length, a.tests, a.every, a.parameters, a.compatible)
        self.tests: tuple[str, ...] = tuple(n for i, n in enumerate(TEST_ORDER) if plan["tests"] >> i & 1)
        self.mask: int = plan["tests"]
        self.parameters = Sp800_22Parameters(**plan["parameters"])
        self.notes: tuple[str, ...] = plan["notes"]
        self.differences: tuple[str, ...] = plan["differences"]

    def sequences(self, data: Bytes, count: int, progress: Any = None) -> Iterator[Sp800_22Sequence]:
        """The figures of the first `count` sequences of `data`, computed a chunk at a time.

        `progress`: the engine's words (sequences done, sequences in all), or None.
        """
        if progress is not None:
            progress[1] = count
        position, done = 0, 0
        while done < count:
            found, position = self.chunk(data, position, min(self.chunk_sequences, count - done), done, progress)
            yield from found
            done += len(found)

    @property
    def chunk_sequences(self) -> int:
        """How many sequences go to the engine at once."""
        return max(1, CHUNK_BITS // self.arguments.length)

    def chunk(self, data: Bytes, position: int, count: int, first: int,
              progress: Any = None) -> tuple[list[Sp800_22Sequence], int]:
        """The figures of `count` sequences of `data` from `position` on (a bit, or a byte of ASCII text),
        numbered from `first`, and the position after them."""
        a = self.arguments
        raw, position = _engine.sp800_22_run(data, a.ascii, position, count, a.length, self.mask, a.every,
                                             a.parameters, a.compatible, progress)
        return [sequence_of(first + i, a.length, figures) for i, figures in enumerate(raw)], position

    def result(self, sequences: tuple[Sp800_22Sequence, ...]) -> Sp800_22Result:
        series = second_level(sequences, self.tests, self.arguments.compatible)
        return Sp800_22Result(
            length=self.arguments.length, bits="ascii" if self.arguments.ascii else "bytes",
            compatible=self.arguments.compatible, tests=self.tests, parameters=self.parameters, sequences=sequences,
            series=series, passed=all(s.passed for s in series), notes=self.notes, differences=self.differences)


#: The tests in the order of NIST's program, by our names.
TEST_ORDER: tuple[str, ...] = tuple(name for name, _ in _engine.sp800_22_tests())


def sequence_of(index: int, length: int, raw: dict[str, Any]) -> Sp800_22Sequence:
    ones = raw.pop("ones")
    return Sp800_22Sequence(index=index, ones=ones, zeros=length - ones,
                            **{name: figures_of(name, value) for name, value in raw.items()})


class SeriesCollector:
    """The p-values of every series, gathered sequence by sequence (they are all the second level needs)."""

    def __init__(self, tests: tuple[str, ...]) -> None:
        self.tests = tests
        self.labels: dict[str, tuple[str, ...]] = {}
        self.values: dict[tuple[str, str], array[float]] = {}

    def add(self, sequence: Sp800_22Sequence) -> None:
        for name in self.tests:
            figures = sequence.test(name)
            if figures is None:
                continue
            labels = self.labels.setdefault(name, figures.labels)
            p_values = figures.p_values
            if not p_values:
                continue  # not applicable to this sequence
            for label, p in zip(labels, p_values):
                self.values.setdefault((name, label), array("d")).append(p)

    def series(self, compatible: bool) -> tuple[Sp800_22Series, ...]:
        out = []
        for name in self.tests:
            for label in self.labels.get(name, ()):
                values = self.values.get((name, label), array("d"))
                s = _engine.sp800_22_summary(values, compatible)
                out.append(Sp800_22Series(
                    test=name, label=label, sequences=s["sequences"], bins=s["bins"], passed_count=s["passed"],
                    low=s["low"], high=s["high"], least=s["least"], most=s["most"],
                    proportion_passed=s["proportion_passed"], uniformity=s["uniformity"],
                    uniformity_passed=s["uniformity_passed"],
                    passed=s["proportion_passed"] and s["uniformity_passed"]))
        return tuple(out)


def second_level(sequences: Iterable[Sp800_22Sequence], tests: tuple[str, ...],
                 compatible: bool) -> tuple[Sp800_22Series, ...]:
    collector = SeriesCollector(tests)
    for s in sequences:
        collector.add(s)
    return collector.series(compatible)
