"""The command line's options: the parser of every command and the value types they use."""
from __future__ import annotations

import argparse
from typing import Any, Callable

from .._cluster import DEFAULT_CHUNK_SIZE
from .._profile import MEASURES
from .exits import EXIT_CODES, Parser
from .render_csv import SCAN_CSV_HEADER
from .runner import BINARY_MIN_ENTROPY, SEARCH_BYTES_PER_ELEMENT
from .numbers import whole_number
from .sp800_90b_arguments import bits_per_symbol
from .sp800_90b_programs import PROGRAMS_EPILOG

SCAN_EPILOG = (
    """\
output formats:
  default  an aligned table: one row of measures per input, its fragments below it
  --json   JSON Lines, one object per input with the keys path, unit, every
           figure of veltrane.Measures (size, histogram, shannon_entropy,
           metric_entropy, normalized_entropy, min_entropy, min_entropy_mcv,
           chi_square, chi_square_p, mean, monte_carlo_pi, serial_correlation,
           ...; null where undefined), fragments (null when not searched; else a
           list of objects with id, length, count, occurrences [{start, end}, ...]
           and preview) and fragments_skipped (why the search did not run, or null)
  --csv    a header line, then one row per input:
             """
    + ",".join(SCAN_CSV_HEADER)
    + """
           the first seven columns are exactly ent's terse (-t) layout, printed as
           ent prints them (File-bits with --bits); ours follow with all their
           digits, the input's name last. No fragments in CSV.

"""
    + EXIT_CODES
)


def parse_size(text: str) -> int:
    """A positive byte count: a number with an optional K, M or G suffix (powers of 1024)."""
    units = {"": 1, "k": 1 << 10, "m": 1 << 20, "g": 1 << 30}
    cleaned = text.strip().lower().removesuffix("ib").removesuffix("b")
    suffix = cleaned[-1:] if cleaned[-1:] in ("k", "m", "g") else ""
    number = cleaned[: len(cleaned) - len(suffix)]
    try:
        value = int(number) * units[suffix]
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a size: {text!r} (use for example 4096, 64K or 1M)") from None
    if value <= 0:
        raise argparse.ArgumentTypeError(f"must be positive: {text!r}")
    return value


def format_size(size: int) -> str:
    """The shortest exact form parse_size reads back: 16M, 4K, 1000."""
    for suffix, unit in (("G", 1 << 30), ("M", 1 << 20), ("K", 1 << 10)):
        if size % unit == 0:
            return f"{size // unit}{suffix}"
    return str(size)


def non_negative(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not value >= 0.0:
        raise argparse.ArgumentTypeError(f"must be 0 or more: {text!r}")
    return value


def fraction(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not 0.0 <= value <= 1.0:
        raise argparse.ArgumentTypeError(f"must lie between 0 and 1: {text!r}")
    return value


def _run_scan(args: argparse.Namespace, activity: Any) -> int:
    from .scan import run_scan

    return run_scan(args, activity)


def _run_ent(args: argparse.Namespace, activity: Any) -> int:
    from .ent import run_ent

    return run_ent(args, activity)


def _run_profile(args: argparse.Namespace, activity: Any) -> int:
    from .profile import run_profile

    return run_profile(args, activity)


def _run_sp800_90b(args: argparse.Namespace, activity: Any) -> int:
    from .sp800_90b import run_sp800_90b

    return run_sp800_90b(args, activity)


def _command(commands: Any, name: str, run: Callable[[argparse.Namespace, Any], int], *, help: str, description: str,
             epilog: str = EXIT_CODES, **more: Any) -> argparse.ArgumentParser:
    """One subcommand: its texts, its epilog laid out as written, and the function that runs it."""
    command: argparse.ArgumentParser = commands.add_parser(
        name, help=help, description=description, epilog=epilog,
        formatter_class=argparse.RawDescriptionHelpFormatter, **more)
    command.set_defaults(run=run)
    return command


def build_parser() -> argparse.ArgumentParser:
    parser = Parser(
        prog="veltrane",
        description="How random or how repetitive data is: entropy measures, repeated fragments, entropy profiles.",
        epilog=EXIT_CODES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("--version", action="version", version=f"veltrane {_version()}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=Parser)
    commands.required = True

    scan = _command(
        commands,
        "scan",
        _run_scan,
        help="measures and top repeated fragments of files, directories (recursively) and - (standard input)",
        description="Size, Shannon entropy (bits per byte), metric entropy (H/8), normalised entropy, "
        "min-entropy and the top repeated fragments of each input.",
        epilog=SCAN_EPILOG,
    )
    scan.add_argument("paths", nargs="+", metavar="PATH",
                      help="a file, a directory (scanned recursively), a URL (s3://, gs://, https://, memory://... "
                      "any fsspec URL; a prefix is scanned recursively) or -")
    scan.add_argument("--fragments", type=whole_number(0), default=5, metavar="N",
                      help="how many repeated fragments to show (default 5; 0 skips the search)")
    scan.add_argument("--times", type=whole_number(1), default=2, metavar="T",
                      help="least number of non-overlapping occurrences of a fragment (default 2)")
    scan.add_argument("--min-length", type=whole_number(1), default=4, metavar="L",
                      help="shortest fragment to report, in elements (default 4)")
    scan.add_argument("--max-length", type=whole_number(1), default=None, metavar="L",
                      help="longest fragment to report (default: no limit)")
    scan.add_argument("--rank", choices=("savings", "coverage"), default="savings",
                      help="savings: what storing a fragment once saves, (count - 1) x length (default); "
                      "coverage: what its occurrences cover, count x length")
    scan.add_argument("--min-entropy", type=non_negative, default=None, metavar="BITS",
                      help="leave out fragments whose own elements carry fewer bits each (default: none, "
                      f"{BINARY_MIN_ENTROPY} for binary inputs)")
    scan.add_argument("--raw", action="store_true",
                      help="no maximal, periodic or entropy filter: every fragment that repeats")
    scan.add_argument("--overlap", action="store_true",
                      help="let fragments share positions (by default one that shares a position with a "
                      "fragment ranked above it is left out)")
    # The search leaves out overlapping fragments by default now; the old flag stays accepted.
    scan.add_argument("--global-non-overlap", action="store_true", help=argparse.SUPPRESS)
    scan.add_argument("--text", action="store_true",
                      help="search each input as UTF-8 text, in code points instead of bytes")
    scan.add_argument("--bits", action="store_true",
                      help="measure the bits of each input (most significant first), as ent -b does")
    scan.add_argument("--fragment-limit", type=parse_size, default=None, metavar="SIZE",
                      help="skip the fragment search on inputs larger than SIZE (default: what the free memory "
                      f"allows, {SEARCH_BYTES_PER_ELEMENT} bytes per input byte for each process searching)")
    form = scan.add_mutually_exclusive_group()
    form.add_argument("--json", action="store_true", help="write JSON Lines, one object per input")
    form.add_argument("--csv", action="store_true", help="write CSV rows (ent -t compatible first columns)")
    scan.add_argument("--jobs", "-j", type=whole_number(1), default=1, metavar="N",
                      help="scan files in N processes (default 1)")
    scan.add_argument("--scheduler", metavar="ADDRESS", default=None,
                      help="scan on the Dask cluster whose scheduler is at ADDRESS (tcp://host:8786), or on a new "
                      "local cluster of N worker processes with local:N; each worker reads its inputs itself "
                      "(needs pip install 'veltrane[cluster]')")
    scan.add_argument("--chunk-size", type=parse_size, default=DEFAULT_CHUNK_SIZE, metavar="SIZE",
                      help="with --scheduler: measure inputs larger than SIZE in pieces of SIZE on different "
                      f"workers (default {DEFAULT_CHUNK_SIZE >> 20}M)")
    scan.add_argument("--quiet", "-q", action="store_true", help="no progress bar")

    ent = _command(
        commands,
        "ent",
        _run_ent,
        help="the output of ent (Debian's randomness test), byte for byte, for any number of files",
        description="Entropy, chi-square, mean, Monte Carlo pi and serial correlation of each FILE (standard "
        "input when none is given), printed exactly as ent prints them. Flags combine (-bct) and ignore case.",
        add_help=False,
    )
    ent.add_argument("files", nargs="*", metavar="FILE", help="a file, or - for standard input (the default)")
    ent.add_argument("-b", "-B", dest="bits", action="store_true", help="treat the input as a stream of bits")
    ent.add_argument("-c", "-C", dest="counts", action="store_true", help="print occurrence counts")
    ent.add_argument("-f", "-F", dest="fold", action="store_true", help="fold upper to lower case letters")
    ent.add_argument("-t", "-T", dest="terse", action="store_true", help="terse output in CSV format")
    ent.add_argument("-u", "-U", "-h", "--help", action="help", help="print this message")

    profile = _command(
        commands,
        "profile",
        _run_profile,
        help="entropy window by window along a file, with its rising and falling edges",
        description="Entropy of each window along FILE; rising and falling edges are found with hysteresis: "
        "a rise when a window reaches --high after a low stretch, a fall when one drops below --low "
        "after a high stretch. Edges are reported as the offset of the first window past the threshold.",
    )
    profile.add_argument("path", metavar="FILE", help="a file, or - for standard input")
    profile.add_argument("--window", type=parse_size, required=True, metavar="SIZE",
                         help="window size in bytes (suffixes K, M, G)")
    profile.add_argument("--step", type=parse_size, default=None, metavar="STEP",
                         help="distance between window starts (default: the window size)")
    profile.add_argument("--high", type=fraction, default=0.95, help="rising threshold (default 0.95)")
    profile.add_argument("--low", type=fraction, default=0.85, help="falling threshold (default 0.85)")
    profile.add_argument("--measure", choices=sorted(MEASURES), default="metric",
                         help="metric: H/8 (default); normalized: H over what random data of the window's "
                         "length scores (better for windows under a few KiB)")
    profile.add_argument("--windows", action="store_true", help="also list every window's value")
    profile.add_argument("--plot", metavar="PNG", help="draw the profile and its edges into this PNG file "
                         "(needs matplotlib: pip install 'veltrane[plot]')")
    form = profile.add_mutually_exclusive_group()
    form.add_argument("--json", action="store_true", help="write one JSON object")
    form.add_argument("--csv", action="store_true", help="write CSV: offset,end,value per window")

    sp800 = _command(
        commands,
        "sp800-90b",
        _run_sp800_90b,
        help="NIST SP 800-90B: the non-IID assessment of a file of samples, one per byte; "
        "with iid, restart or conditioning first, the other programs of the assessment",
        description="The ten non-IID estimators of NIST SP 800-90B (section 6.3) on the samples of FILE, one "
        "per byte, as they are and (for widths above 1) as their bitstring; prints H_original, H_bitstring "
        "and the assessed min-entropy min(H_original, width x H_bitstring), in bits per sample.",
        epilog=PROGRAMS_EPILOG + "\n" + EXIT_CODES,
    )
    sp800.add_argument("path", metavar="FILE", help="a file of samples, or - for standard input")
    sp800.add_argument("--bits", type=bits_per_symbol, default=None, metavar="N",
                       help="bits per sample, 1 to 8 (default: what the largest sample needs)")
    form = sp800.add_mutually_exclusive_group()
    form.add_argument("--json", action="store_true", help="write one JSON object with every estimator's figures")
    form.add_argument("--verbose", "-v", action="store_true",
                      help="every estimator's figures, in the layout of NIST's reference tool (17 digits)")
    sp800.add_argument("--quiet", "-q", action="store_true", help="no progress bar")
    return parser


def _version() -> str:
    import _veltrane

    return _veltrane.version()
