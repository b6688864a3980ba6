"""Min-entropy of the bytes of some data (same inputs as `veltrane.shannon_entropy`)."""
from __future__ import annotations

from typing import TYPE_CHECKING

from _veltrane import min_entropy as _native_module

from ._native import call

if TYPE_CHECKING:
    from ._types import Data

__all__ = ["measure_entropy"]


def measure_entropy(data: Data) -> float:
    """Min-entropy H_inf = -log2(max count / n), in bits per byte (0.0 to 8.0).

    The most pessimistic of the measures: what someone always guessing the most
    common byte value faces. 0.0 for empty data.
    """
    return call(_native_module.measure_entropy, data)
