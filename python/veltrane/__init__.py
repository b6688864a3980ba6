"""veltrane: how random or how repetitive data is.

The measures and the fragment search of the native module `_veltrane`, with
Python signatures and English documentation, plus conveniences:

- `measure(data)`: every randomness figure of the bytes (entropies, chi-square and its
  probability, mean, Monte Carlo pi, serial correlation, ...) in one native pass;
- `repeats(data)`: the repeated fragments people act on (maximal, not periodic, ranked by
  what storing them once saves), as compact columns;
- `scan(data)`: the figures and the top repeats as a `ScanResult`;
- `sp800_90b(samples)`: NIST SP 800-90B's non-IID min-entropy assessment, every estimator
  with the figures NIST's reference tool prints;
- `sp800_90b_iid(samples)` and `sp800_90b_restart(samples, h_initial)`: its IID track and
  restart tests, reproducible from a seed;
- `sp800_22(data)`: NIST SP 800-22's fifteen statistical tests on sequences cut from the data,
  every p-value and figure NIST's program prints, and the second level; `compatible=True`
  reproduces that program exactly;
- `sp800_90b_conditioning(n_in, n_out, nw, h_in)`: the entropy a conditioning component
  leaves (SP 800-90B 3.1.5), the double nearest the exact value;
- `shared_repeats(documents)`: what the documents of a corpus share, no occurrence crossing
  from one into the next; `duplicate_spans(documents)` and `deduplicate(documents)`: its exact
  deduplication (repeated spans of 100 bytes or more), to a fixed point;
- `scan_many(inputs, client)`: scans of files and URLs on a Dask cluster, in input order;
- `entropy_profile(data, window)`: entropy window by window, with rising and
  falling edges found with hysteresis (packed or encrypted regions);
- the `veltrane` command line (`python -m veltrane`).

The submodules `shannon_entropy`, `min_entropy` and `strings_frag` mirror the
native ones function for function.
"""
from __future__ import annotations

from typing import Literal

import _veltrane

from . import min_entropy, shannon_entropy, strings_frag
from ._conditioning import Conditioning, sp800_90b_conditioning
from ._corpus import (DuplicateSpans, Occurrence, SharedRepeat, SharedRepeats, deduplicate, duplicate_spans,
                      shared_repeats)
from ._display import format_measure
from ._locations import URL
from ._measures import EntFigures, Measures, MeasureState, measure, measure_state
from ._profile import Edge, Profile, entropy_profile, find_edges
from ._repeats import LeftOut, Repeat, Repeats, repeats
from ._scan import ScanResult, scan
from ._scan_many import ScanFailure, scan_many
from ._sp800_90b_iid import (
    ChiSquareTest,
    ChiSquareTests,
    IidAssessment,
    LrsTest,
    PermutationStatistic,
    PermutationTest,
    sp800_90b_iid,
)
from ._sp800_22 import Sp800_22Parameters, Sp800_22Result, Sp800_22Sequence, Sp800_22Series, sp800_22
from ._sp800_22_tests import (
    ApproximateEntropyTest,
    BlockFrequencyTest,
    CumulativeSumsTest,
    DftTest,
    ExcursionState,
    FrequencyTest,
    LinearComplexityTest,
    LongestRunTest,
    NonOverlappingTemplateTest,
    OverlappingTemplateTest,
    RandomExcursionsTest,
    RandomExcursionsVariantTest,
    RankTest,
    RunsTest,
    SerialTest,
    TemplateMatch,
    UniversalTest,
    VariantState,
)
from ._sp800_90b_restart import RestartDataset, RestartSanityCheck, RestartTest, sp800_90b_restart
from ._sp800_90b import (
    Assessment,
    Collision,
    Compression,
    LongestRepeatedSubstring,
    Markov,
    MostCommonValue,
    Prediction,
    Track,
    TTuple,
    sp800_90b,
)

__all__ = [
    "ApproximateEntropyTest",
    "Assessment",
    "BlockFrequencyTest",
    "ChiSquareTest",
    "ChiSquareTests",
    "Collision",
    "Compression",
    "Conditioning",
    "CumulativeSumsTest",
    "DftTest",
    "DuplicateSpans",
    "Edge",
    "EntFigures",
    "ExcursionState",
    "FrequencyTest",
    "IidAssessment",
    "LeftOut",
    "LinearComplexityTest",
    "LongestRepeatedSubstring",
    "LongestRunTest",
    "LrsTest",
    "Markov",
    "MeasureState",
    "Measures",
    "MostCommonValue",
    "NonOverlappingTemplateTest",
    "Occurrence",
    "OverlappingTemplateTest",
    "PermutationStatistic",
    "PermutationTest",
    "Prediction",
    "Profile",
    "RandomExcursionsTest",
    "RandomExcursionsVariantTest",
    "RankTest",
    "Repeat",
    "Repeats",
    "RestartDataset",
    "RestartSanityCheck",
    "RestartTest",
    "RunsTest",
    "ScanFailure",
    "ScanResult",
    "SerialTest",
    "SharedRepeat",
    "SharedRepeats",
    "Sp800_22Parameters",
    "Sp800_22Result",
    "Sp800_22Sequence",
    "Sp800_22Series",
    "TTuple",
    "TemplateMatch",
    "Track",
    "URL",
    "UniversalTest",
    "VariantState",
    "deduplicate",
    "duplicate_spans",
    "entropy_profile",
    "find_edges",
    "format_measure",
    "measure",
    "measure_state",
    "min_entropy",
    "profile",
    "repeats",
    "scan",
    "scan_many",
    "shannon_entropy",
    "shared_repeats",
    "sp800_22",
    "sp800_90b",
    "sp800_90b_iid",
    "sp800_90b_restart",
    "sp800_90b_conditioning",
    "strings_frag",
    "version",
    "__version__",
]


def version() -> str:
    """The version of the native module."""
    return _veltrane.version()


def profile() -> Literal["debug", "release"]:
    """How the native module was built: "debug" or "release"."""
    return _veltrane.profile()


__version__ = version()
