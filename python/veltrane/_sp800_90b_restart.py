"""`sp800_90b_restart`: NIST SP 800-90B's restart tests (section 3.1.4), the sanity check computed exactly."""
from __future__ import annotations

from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

from . import _engine
from ._measures import _Figures
from ._seed import Seed, seed_bytes
from ._sp800_90b import Assessment, MostCommonValue, assessment_of
from ._sp800_90b_iid import PermutationTest, permutation_test_of

if TYPE_CHECKING:
    from ._types import Bytes

__all__ = ["RestartDataset", "RestartSanityCheck", "RestartTest", "sp800_90b_restart"]

#: What the column IID test runs on, unlike NIST's tool.
COLUMN_NOTE = ("the column dataset's permutation test runs on the columns; NIST's tool runs the rows' "
               "test a second time there")


@dataclass(frozen=True, eq=False)
class RestartSanityCheck(_Figures):
    """The sanity check (§3.1.4.3): the most common value's count in any restart (x_rows) or position (x_columns).

    It passes when x_max ≤ x_cutoff, the (1 − alpha) quantile of that count for a source of min-entropy
    H_I, computed exactly (NIST's tool simulates it and may print one more).
    """

    alpha: float
    x_cutoff: int
    x_rows: int
    x_columns: int
    x_max: int
    passed: bool


@dataclass(frozen=True, eq=False)
class RestartDataset(_Figures):
    """The assessment of the row or the column dataset: `non_iid` (the samples as they are, no bitstring),
    or for the IID track `most_common_value` and `permutation`; `min_entropy` is H_r or H_c."""

    non_iid: Assessment | None
    most_common_value: MostCommonValue | None
    permutation: PermutationTest | None
    min_entropy: float


@dataclass(frozen=True, eq=False)
class RestartTest(_Figures):
    """The restart tests of 1000 restarts of 1000 samples against the initial estimate `h_initial` (H_I).

    The validation runs only after a passing sanity check (`rows` and `columns` are None otherwise)
    and passes when min(H_r, H_c) ≥ H_I / 2 (and, with `iid`, both permutation tests pass);
    `min_entropy` is then min(H_r, H_c, H_I), else None. `seed` repeats the permutation tests (None
    without `iid`); `notes` says where this differs from NIST's tool.
    """

    samples: int
    width: int
    distinct: int
    h_initial: float
    iid: bool
    sanity: RestartSanityCheck
    rows: RestartDataset | None
    columns: RestartDataset | None
    validation_passed: bool
    min_entropy: float | None
    passed: bool
    seed: str | None
    notes: tuple[str, ...]


def sp800_90b_restart(data: Bytes, h_initial: float, *, bits_per_symbol: int | None = None, iid: bool = False,
                      seed: Seed | None = None) -> RestartTest:
    """NIST SP 800-90B's restart tests on `data`: 1000 restarts of 1000 samples, one per byte, restart after restart.

    `h_initial` is the initial entropy estimate H_I in bits per sample (from `sp800_90b` or
    `sp800_90b_iid`). The validation assesses the rows and the columns with the non-IID estimators,
    or with `iid=True` by the most common value and the permutation test (`seed` as in
    `sp800_90b_iid`). Raises ValueError for data that is not 10^6 samples, a sample wider than
    declared, or H_I outside (0, width].
    """
    return assess_restart(data, h_initial, bits_per_symbol, iid, seed)


def assess_restart(data: Bytes, h_initial: float, bits_per_symbol: int | None, iid: bool, seed: Seed | None,
                   progress: Any = None) -> RestartTest:
    """`sp800_90b_restart` with the engine's progress words."""
    if isinstance(h_initial, bool) or not isinstance(h_initial, (int, float)):
        raise TypeError(f"h_initial must be a number of bits, not {type(h_initial).__name__}")
    raw_seed = seed_bytes(seed) if iid else None
    raw = _engine.sp800_90b_restart(data, float(h_initial), bits_per_symbol, iid, raw_seed, progress)
    return RestartTest(
        samples=raw["samples"], width=raw["width"], distinct=raw["distinct"], h_initial=raw["h_initial"],
        iid=raw["iid"], sanity=RestartSanityCheck(**raw["sanity"]), rows=_dataset(raw["rows"]),
        columns=_dataset(raw["columns"]), validation_passed=raw["validation_passed"],
        min_entropy=raw["min_entropy"], passed=raw["passed"], seed=None if raw_seed is None else raw_seed.hex(),
        notes=(COLUMN_NOTE,) if iid else ())


def _dataset(raw: dict[str, Any] | None) -> RestartDataset | None:
    if raw is None:
        return None
    return RestartDataset(
        non_iid=None if raw["non_iid"] is None else assessment_of(raw["non_iid"]),
        most_common_value=None if raw["most_common_value"] is None else MostCommonValue(**raw["most_common_value"]),
        permutation=None if raw["permutation"] is None else permutation_test_of(raw["permutation"]),
        min_entropy=raw["min_entropy"])
