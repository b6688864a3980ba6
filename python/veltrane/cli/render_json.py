"""JSON output for programs: every number with all its digits."""
from __future__ import annotations

import dataclasses
import json
import math
from dataclasses import fields
from typing import Any, Union

from .._measures import Measures
from .._profile import Profile
from .output import Output
from .runner import ScannedInput


def _line(record: dict[str, Any]) -> str:
    return json.dumps(record, ensure_ascii=False) + "\n"


def _number(value: float) -> Union[float, None]:
    # JSON has no NaN: an undefined figure is null.
    return None if math.isnan(value) else value


def measures_record(m: Measures) -> dict[str, Any]:
    """Every figure, under the names of `Measures`; undefined ones as null."""
    record: dict[str, Any] = {}
    for field in fields(m):
        value = getattr(m, field.name)
        if field.name == "ent":
            value = {f.name: _number(v) if isinstance(v, float) else v
                     for f in fields(value) for v in [getattr(value, f.name)]}
        elif isinstance(value, float):
            value = _number(value)
        elif isinstance(value, tuple):
            value = list(value)
        record[field.name] = value
    return record


class ScanJson:
    """JSON Lines: one object per input."""

    def __init__(self, output: Output) -> None:
        self.output = output

    def header(self) -> None:
        pass

    def record(self, item: ScannedInput) -> None:
        result = item.result
        found = result.repeats
        repeats = None
        if found is not None:
            repeats = {
                "lengths": found.lengths.tolist(),
                "counts": found.counts.tolist(),
                "scores": found.scores.tolist(),
                "firsts": found.firsts.tolist(),
                # Each fragment's first stored starts; "truncated" says the count holds more.
                "starts": [list(r.starts) for r in found],
                "truncated": [r.truncated for r in found],
                "previews": list(item.previews),
                "left_out": dataclasses.asdict(found.left_out),
            }
        run = item.longest_run
        self.output.write(_line({
            "path": item.path,
            **measures_record(result.measures),
            "unit": result.unit,
            "binary": item.binary,
            "longest_run": None if run is None else {"value": run[0], "start": run[1], "length": run[2]},
            "repeats": repeats,
            "repeats_skipped": item.repeats_skipped,
        }))


def profile_json(path: str, profile: Profile) -> str:
    return _line({
        "path": path,
        "size": profile.size,
        "window": profile.window,
        "step": profile.step,
        "measure": profile.measure,
        "high": profile.high,
        "low": profile.low,
        "edges": [{"offset": e.offset, "direction": e.direction, "value": e.value} for e in profile.edges],
        "regions": [{"start": start, "end": end} for start, end in profile.regions],
        "offsets": list(profile.offsets),
        "values": list(profile.values),
    })
