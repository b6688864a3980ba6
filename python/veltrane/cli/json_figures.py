"""Results as JSON: every field of a result's dataclasses, nested, with null for an undefined figure."""
from __future__ import annotations

import dataclasses
import json
import math
from typing import Any


def json_ready(value: Any) -> Any:
    """`value` with every NaN or infinite float replaced by None, through dicts, lists and tuples."""
    if isinstance(value, float):
        return value if math.isfinite(value) else None
    if isinstance(value, dict):
        return {k: json_ready(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [json_ready(v) for v in value]
    return value


def path_and_fields(path: str, result: Any) -> str:
    """One JSON object on one line: the path, then every field of the dataclass `result`."""
    return json.dumps({"path": path, **json_ready(dataclasses.asdict(result))}) + "\n"
