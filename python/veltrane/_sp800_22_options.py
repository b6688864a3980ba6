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
class Options:
    data: Any
    ascii: bool
    length: int
    count: int
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


def options_of(data: Bytes, length: Any, sequences: Any, tests: Any, bits: Any, compatible: Any,
               parameters: dict[str, Any]) -> Options:
    """The checked options of a run on `data`; raises TypeError or ValueError naming the argument at fault."""
    length = whole("length", length, 1)
    if bits not in ("bytes", "ascii"):
        raise ValueError(f"bits must be 'bytes' or 'ascii', not {bits!r}")
    if not isinstance(compatible, bool):
        raise TypeError(f"compatible must be a bool, not {type(compatible).__name__}")
    mask = test_mask(tests)
    checked = parameters_of(parameters)
    ascii = bits == "ascii"
    available = _engine.sp800_22_bits(data, ascii) // length
    if sequences is None:
        if available == 0:
            raise ValueError(f"length: the data holds fewer than {length} bits, not one sequence")
        count = available
    else:
        count = whole("sequences", sequences, 1)
        if count > available:
            raise ValueError(f"sequences: the data holds {available} sequences of {length} bits, not {count}")
    return Options(data=data, ascii=ascii, length=length, count=count, tests=mask, every=tests is None,
                   compatible=compatible, parameters=checked)
