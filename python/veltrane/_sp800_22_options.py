"""The arguments of `sp800_22`, checked: a clear TypeError or ValueError naming the argument, before any work."""
from __future__ import annotations

import operator
from collections.abc import Iterable
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Union

from . import _engine

if TYPE_CHECKING:
    from ._types import Bytes

#: (name, NIST's program's name) of the fifteen tests, in the program's order.
TESTS: tuple[tuple[str, str], ...] = _engine.sp800_22_tests()

#: The parameters a caller may set; None (or leaving one out) keeps the default.
PARAMETERS: tuple[str, ...] = tuple(_engine.sp800_22_plan(1_000_000, 1, False, {}, False)["parameters"])

#: The parameters whose default follows from the sequence length.
FROM_LENGTH = ("longest_run_block_length", "universal_block_length", "universal_initial_blocks")


@dataclass(frozen=True)
class Arguments:
    """A run's checked arguments, the data aside."""

    length: int
    ascii: bool
    tests: int
    every: bool
    compatible: bool
    parameters: dict[str, int]


def whole(name: str, value: Any, least: int) -> int:
    """`value` as an int of at least `least` (not a bool, not a float)."""
    if isinstance(value, bool) or not hasattr(value, "__index__"):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    number = operator.index(value)
    if number < least:
        raise ValueError(f"{name} must be at least {least}, not {number}")
    return number


def test_mask(tests: Iterable[Union[str, int]] | None) -> int:
    """The tests named, as bits in the program's order; all of them for None."""
    if tests is None:
        return (1 << len(TESTS)) - 1
    if isinstance(tests, (str, bytes)):
        tests = [tests]  # type: ignore[list-item]
    by_name = {}
    for i, (name, program) in enumerate(TESTS):
        for spelling in (name, program, name.replace("_", ""), str(i + 1)):
            by_name[spelling.lower()] = i
    mask = 0
    for test in tests:
        key = str(test).strip().lower().replace("-", "_") if isinstance(test, (str, int)) and not isinstance(
            test, bool) else None
        if key is None or (key not in by_name and key.replace("_", "") not in by_name):
            raise ValueError(f"tests: unknown test {test!r} (one of {', '.join(n for n, _ in TESTS)}, or 1 to 15)")
        mask |= 1 << by_name.get(key, by_name.get(key.replace("_", ""), 0))
    if mask == 0:
        raise ValueError("tests must name at least one test")
    return mask


def parameters_of(given: dict[str, Any]) -> dict[str, int]:
    out = {}
    for name, value in given.items():
        if name not in PARAMETERS:
            raise TypeError(f"sp800_22() got an unexpected keyword argument {name!r}")
        if value is None:
            continue
        out[name] = whole(name, value, 1)
    return out


def arguments_of(length: Any, tests: Any, bits: Any, compatible: Any, parameters: dict[str, Any]) -> Arguments:
    """The checked arguments of a run; raises TypeError or ValueError naming the argument at fault."""
    length = whole("length", length, 1)
    if bits not in ("bytes", "ascii"):
        raise ValueError(f"bits must be 'bytes' or 'ascii', not {bits!r}")
    if not isinstance(compatible, bool):
        raise TypeError(f"compatible must be a bool, not {type(compatible).__name__}")
    return Arguments(length=length, ascii=bits == "ascii", tests=test_mask(tests), every=tests is None,
                     compatible=compatible, parameters=parameters_of(parameters))


def sequence_count(data: Bytes, arguments: Arguments, sequences: Any) -> int:
    """How many sequences to take from `data`: `sequences`, or all that fit for None."""
    available = _engine.sp800_22_bits(data, arguments.ascii) // arguments.length
    if sequences is None:
        if available == 0:
            raise ValueError(f"length: the data holds fewer than {arguments.length} bits, not one sequence")
        return available
    count = whole("sequences", sequences, 1)
    if count > available:
        raise ValueError(f"sequences: the data holds {available} sequences of {arguments.length} bits, not {count}")
    return count
