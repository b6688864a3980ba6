"""Shannon entropy of the bytes of some data: plain, metric (H/8) and normalised.

Each function accepts a ``str`` (measured over its UTF-8 bytes), ``bytes``,
``bytearray``, an unsigned-byte buffer (``memoryview``, ``array('B')``, numpy
``uint8`` array, ``mmap``) or a sequence of integers 0..255.
"""
from __future__ import annotations

from typing import TYPE_CHECKING

from _veltrane import shannon_entropy as _native_module

from ._native import call

if TYPE_CHECKING:
    from ._types import Data

__all__ = ["measure_entropy", "measure_metric_entropy", "measure_normalized_metric_entropy"]


def measure_entropy(data: Data) -> float:
    """Shannon entropy H = -sum(p * log2(p)) of the byte values, in bits per byte.

    Between 0.0 (one repeated value, or no data at all) and 8.0 (all 256 values
    equally frequent).
    """
    return call(_native_module.measure_entropy, data)


def measure_metric_entropy(data: Data) -> float:
    """Shannon entropy divided by 8, the most a byte can carry: between 0.0 and 1.0.

    Some tools give the name "metric entropy" to H divided by the length of the
    data; here it is the per-bit scale H / 8.
    """
    return call(_native_module.measure_metric_entropy, data)


def measure_normalized_metric_entropy(data: Data) -> float:
    """Shannon entropy divided by what uniformly random data of the same length is expected to score.

    Random data scores close to 1.0 at any length, where H / 8 would call short
    random inputs redundant. The result is capped at 1.0.
    """
    return call(_native_module.measure_normalized_metric_entropy, data)
