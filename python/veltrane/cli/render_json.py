"""JSON output for programs: every number with all its digits."""
from __future__ import annotations

import json
from typing import Any

from .._profile import Profile
from .output import Output
from .runner import ScannedInput


def _line(record: dict[str, Any]) -> str:
    return json.dumps(record, ensure_ascii=False) + "\n"


class ScanJson:
    """JSON Lines: one object per input."""

    def __init__(self, output: Output) -> None:
        self.output = output

    def header(self) -> None:
        pass

    def record(self, item: ScannedInput) -> None:
        result = item.result
        fragments = None
        if item.searched:
            fragments = [
                {
                    "id": fragment.id,
                    "length": fragment.length,
                    "count": fragment.count,
                    "occurrences": [{"start": start, "end": end} for start, end in fragment.occurrences],
                    "preview": shown,
                }
                for fragment, shown in zip(result.fragments, item.previews)
            ]
        self.output.write(_line({
            "path": item.path,
            "size": result.size,
            "shannon_entropy": result.shannon_entropy,
            "metric_entropy": result.metric_entropy,
            "normalized_entropy": result.normalized_entropy,
            "min_entropy": result.min_entropy,
            "unit": result.unit,
            "fragments": fragments,
            "fragments_skipped": item.fragments_skipped,
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
