"""The options of the repeats search that `scan` and `corpus` share, worded once."""
from __future__ import annotations

from typing import Any

from .numbers import non_negative, whole_number


def add_fragment_filters(parser: Any, *, elements: str, entropy_default: str) -> None:
    """--max-length, --rank, --min-entropy, --raw and --overlap on `parser` (or an argument group)."""
    parser.add_argument("--max-length", type=whole_number(1), default=None, metavar="L",
                        help="longest fragment to report (default: no limit)")
    parser.add_argument("--rank", choices=("savings", "coverage"), default="savings",
                        help="savings: what storing a fragment once saves, (count - 1) x length (default); "
                        "coverage: what its occurrences cover, count x length")
    parser.add_argument("--min-entropy", type=non_negative, default=None, metavar="BITS",
                        help=f"leave out fragments whose own {elements} carry fewer bits each "
                        f"(default: {entropy_default})")
    parser.add_argument("--raw", action="store_true",
                        help="no maximal, periodic or entropy filter: every fragment that repeats")
    parser.add_argument("--overlap", action="store_true",
                        help="let fragments share positions (by default one that shares a position with a "
                        "fragment ranked above it is left out)")

