"""The `veltrane` command line: scan inputs, or profile one file window by window."""
from __future__ import annotations

import argparse
import csv
import io
import json
import os
import signal
import stat
import sys
from collections.abc import Sequence
from concurrent.futures import Future, ProcessPoolExecutor
from dataclasses import dataclass
from typing import IO, Any, NoReturn, Union

from ._profile import MEASURES, Profile, entropy_profile
from ._scan import mapped, mapped_file, scan_data

EXIT_OK = 0
EXIT_FAILED = 1
EXIT_USAGE = 2
EXIT_INTERRUPTED = 130

STDIN = "-"
PREVIEW_WIDTH = 24
SHOWN_OFFSETS = 3

# ent's terse (-t) layout begins with these columns; scripts written for it read
# the row marker, the size and the entropy from the same places here.
CSV_HEADER = ["0", "File-bytes", "Entropy", "Metric-entropy", "Normalized-entropy", "Min-entropy", "File"]

EXIT_CODES = """\
exit status:
  0    every input was processed
  1    some inputs failed (each one is named on standard error), or the output was closed
  2    usage error (bad option or value, --plot without matplotlib)
  130  interrupted (Ctrl-C)
"""

SCAN_EPILOG = (
    """\
output formats:
  default  an aligned table: one row of measures per input, its fragments below it
  --json   JSON Lines, one object per input with the keys path, size,
           shannon_entropy, metric_entropy, normalized_entropy, min_entropy, unit,
           fragments (null when not searched; else a list of objects with id,
           length, count, occurrences [{start, end}, ...] and preview)
  --csv    a header line, then one row per input:
             """
    + ",".join(CSV_HEADER)
    + """
           the first three columns are those of ent's terse (-t) layout (row marker
           0 for the header, 1 for values; size; Shannon entropy in bits per byte);
           ours follow, the input's name last. No fragments in CSV.

"""
    + EXIT_CODES
)


class OutputClosed(Exception):
    """Standard output went away (a broken pipe)."""


def _fail_usage(message: str) -> NoReturn:
    print(f"veltrane: {message}", file=sys.stderr)
    raise SystemExit(EXIT_USAGE)


# --------------------------------------------------------------------------- arguments


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


def _count(minimum: int) -> Any:
    def convert(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
        if value < minimum:
            raise argparse.ArgumentTypeError(f"must be {minimum} or more: {text!r}")
        return value

    return convert


def _fraction(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not 0.0 <= value <= 1.0:
        raise argparse.ArgumentTypeError(f"must lie between 0 and 1: {text!r}")
    return value


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        self.print_usage(sys.stderr)
        _fail_usage(message)


def build_parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog="veltrane",
        description="How random or how repetitive data is: entropy measures, repeated fragments, entropy profiles.",
        epilog=EXIT_CODES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("--version", action="version", version=f"veltrane {_native_version()}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=_Parser)
    commands.required = True

    scan = commands.add_parser(
        "scan",
        help="measures and top repeated fragments of files, directories (recursively) and - (standard input)",
        description="Size, Shannon entropy (bits per byte), metric entropy (H/8), normalised entropy, "
        "min-entropy and the top repeated fragments of each input.",
        epilog=SCAN_EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    scan.add_argument("paths", nargs="+", metavar="PATH", help="a file, a directory (scanned recursively) or -")
    scan.add_argument("--fragments", type=_count(0), default=5, metavar="N",
                      help="how many repeated fragments to show (default 5; 0 skips the search)")
    scan.add_argument("--times", type=_count(1), default=2, metavar="T",
                      help="least number of non-overlapping occurrences of a fragment (default 2)")
    scan.add_argument("--global-non-overlap", action="store_true",
                      help="leave out fragments that share a position with one ranked above them")
    scan.add_argument("--text", action="store_true",
                      help="search each input as UTF-8 text, in code points instead of bytes")
    scan.add_argument("--fragment-limit", type=parse_size, default=16 << 20, metavar="SIZE",
                      help="skip the fragment search on inputs larger than SIZE (default 16M)")
    form = scan.add_mutually_exclusive_group()
    form.add_argument("--json", action="store_true", help="write JSON Lines, one object per input")
    form.add_argument("--csv", action="store_true", help="write CSV rows (ent -t compatible first columns)")
    scan.add_argument("--jobs", "-j", type=_count(1), default=1, metavar="N",
                      help="scan files in N processes (default 1)")
    scan.add_argument("--quiet", "-q", action="store_true", help="no progress bar")

    profile = commands.add_parser(
        "profile",
        help="entropy window by window along a file, with its rising and falling edges",
        description="Entropy of each window along FILE; rising and falling edges are found with hysteresis: "
        "a rise when a window reaches --high after a low stretch, a fall when one drops below --low "
        "after a high stretch. Edges are reported as the offset of the first window past the threshold.",
        epilog=EXIT_CODES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    profile.add_argument("path", metavar="FILE", help="a file, or - for standard input")
    profile.add_argument("--window", type=parse_size, required=True, metavar="SIZE",
                         help="window size in bytes (suffixes K, M, G)")
    profile.add_argument("--step", type=parse_size, default=None, metavar="STEP",
                         help="distance between window starts (default: the window size)")
    profile.add_argument("--high", type=_fraction, default=0.95, help="rising threshold (default 0.95)")
    profile.add_argument("--low", type=_fraction, default=0.85, help="falling threshold (default 0.85)")
    profile.add_argument("--measure", choices=sorted(MEASURES), default="metric",
                         help="metric: H/8 (default); normalized: H over what random data of the window's "
                         "length scores (better for windows under a few KiB)")
    profile.add_argument("--windows", action="store_true", help="also list every window's value")
    profile.add_argument("--plot", metavar="PNG", help="draw the profile and its edges into this PNG file "
                         "(needs matplotlib: pip install 'veltrane[plot]')")
    form = profile.add_mutually_exclusive_group()
    form.add_argument("--json", action="store_true", help="write one JSON object")
    form.add_argument("--csv", action="store_true", help="write CSV: offset,end,value per window")
    return parser


def _native_version() -> str:
    import _veltrane

    return _veltrane.version()


# --------------------------------------------------------------------------- inputs


def describe_error(error: BaseException) -> str:
    if isinstance(error, OSError) and error.strerror:
        return error.strerror
    if isinstance(error, UnicodeDecodeError):
        return f"not valid UTF-8 (byte {error.start}); scan it without --text"
    if isinstance(error, MemoryError):
        return "out of memory"
    return str(error) or type(error).__name__


def display(path: str) -> str:
    return "<stdin>" if path == STDIN else path


@dataclass
class Inputs:
    paths: list[str]
    total_bytes: int
    failures: int


def expand(arguments: Sequence[str], report: Any) -> Inputs:
    """The files to scan, in order: directories are walked recursively, following symbolic links.

    A directory that leads back to one of its own ancestors (a loop through a
    link) is reported and not entered again. Inside directories only regular
    files are scanned: a FIFO or device found there could block or never end.
    """
    found = Inputs([], 0, 0)

    def failed(path: str, message: str) -> None:
        report(path, message)
        found.failures += 1

    def walk(directory: str, ancestors: dict[tuple[int, int], str]) -> None:
        try:
            with os.scandir(directory) as listing:
                entries = sorted(listing, key=lambda entry: entry.name)
        except OSError as error:
            failed(directory, describe_error(error))
            return
        for entry in entries:
            try:
                info = os.stat(entry.path)
            except OSError as error:
                failed(entry.path, describe_error(error))
                continue
            if stat.S_ISDIR(info.st_mode):
                key = (info.st_dev, info.st_ino)
                if key in ancestors:
                    failed(entry.path, f"directory loop (leads back to {ancestors[key]}); not entered")
                    continue
                walk(entry.path, {**ancestors, key: entry.path})
            elif stat.S_ISREG(info.st_mode):
                found.paths.append(entry.path)
                found.total_bytes += info.st_size

    for argument in arguments:
        if argument == STDIN:
            found.paths.append(STDIN)
            continue
        try:
            info = os.stat(argument)
        except OSError as error:
            failed(argument, describe_error(error))
            continue
        if stat.S_ISDIR(info.st_mode):
            walk(argument, {(info.st_dev, info.st_ino): argument})
        else:
            found.paths.append(argument)
            found.total_bytes += info.st_size if stat.S_ISREG(info.st_mode) else 0
    return found


# --------------------------------------------------------------------------- scanning


@dataclass(frozen=True)
class ScanOptions:
    fragments: int
    times: int
    global_non_overlap: bool
    text: bool
    fragment_limit: int


def preview(data: Any, start: int, end: int, width: int = PREVIEW_WIDTH) -> str:
    """The first `width` elements of data[start:end], escaped so that it prints on one line."""
    piece = data[start : min(end, start + width)]
    if isinstance(piece, str):
        text = "".join(
            ch if ch.isprintable() and ch != "\\" else ch.encode("unicode_escape").decode("ascii") for ch in piece
        )
    else:
        text = "".join(
            chr(byte) if 0x20 <= byte < 0x7F and byte != 0x5C else ("\\\\" if byte == 0x5C else f"\\x{byte:02x}")
            for byte in bytes(piece)
        )
    return text + ("…" if end - start > width else "")


def scan_content(path: str, content: Any, options: ScanOptions) -> dict[str, Any]:
    search = options.fragments if len(content) <= options.fragment_limit else 0
    result, searched = scan_data(
        content, fragments=search, times=options.times, global_non_overlap=options.global_non_overlap,
        text=options.text,
    )
    fragments: list[dict[str, Any]] | None = None
    if search:
        fragments = [
            {
                "id": fragment.id,
                "length": fragment.length,
                "count": fragment.count,
                "occurrences": [{"start": start, "end": end} for start, end in fragment.occurrences],
                "preview": preview(searched, *fragment.occurrences[0]) if fragment.occurrences else "",
            }
            for fragment in result.fragments
        ]
    return {
        "path": path,
        "size": result.size,
        "shannon_entropy": result.shannon_entropy,
        "metric_entropy": result.metric_entropy,
        "normalized_entropy": result.normalized_entropy,
        "min_entropy": result.min_entropy,
        "unit": result.unit,
        "fragments": fragments,
    }


def scan_one(path: str, options: ScanOptions) -> tuple[bool, Any]:
    """(True, record) or (False, message); never raises for a problem of the input itself."""
    try:
        if path == STDIN:
            with mapped_file(sys.stdin.buffer) as content:
                return True, scan_content(path, content, options)
        with mapped(path) as content:
            return True, scan_content(path, content, options)
    except (OSError, UnicodeDecodeError, MemoryError, ValueError) as error:
        return False, describe_error(error)


def _worker_init() -> None:
    # Ctrl-C goes to the whole process group; the parent alone answers it.
    signal.signal(signal.SIGINT, signal.SIG_IGN)


def _number(value: float, digits: int = 4) -> str:
    # The module gives -0.0 for data of one byte value; a table reads better without the sign.
    return f"{value + 0.0:.{digits}f}"


class Writer:
    """Writes results in one format, flushing each so that a pipe sees them as they come."""

    def __init__(self, stream: IO[str], form: str, bar: Any) -> None:
        self.stream = stream
        self.form = form
        self.bar = bar

    def emit(self, text: str) -> None:
        try:
            if self.bar is not None:
                self.bar.write(text, file=self.stream, end="")
            else:
                self.stream.write(text)
            self.stream.flush()
        except BrokenPipeError:
            raise OutputClosed from None

    def csv_line(self, row: Sequence[Any]) -> str:
        buffer = io.StringIO()
        csv.writer(buffer, lineterminator="\n").writerow(row)
        return buffer.getvalue()

    def header(self, options: ScanOptions) -> None:
        if self.form == "csv":
            self.emit(self.csv_line(CSV_HEADER))
        elif self.form == "table":
            self.emit(f"{'SIZE':>12}  {'SHANNON':>7}  {'METRIC':>6}  {'NORMAL':>6}  {'MIN-ENT':>7}  INPUT\n")

    def record(self, record: dict[str, Any]) -> None:
        if self.form == "json":
            self.emit(json.dumps(record, ensure_ascii=False) + "\n")
            return
        if self.form == "csv":
            self.emit(self.csv_line([
                1, record["size"], repr(record["shannon_entropy"]), repr(record["metric_entropy"]),
                repr(record["normalized_entropy"]), repr(record["min_entropy"]), record["path"],
            ]))
            return
        lines = [
            f"{record['size']:>12}  {_number(record['shannon_entropy']):>7}  {_number(record['metric_entropy']):>6}"
            f"  {_number(record['normalized_entropy']):>6}  {_number(record['min_entropy']):>7}"
            f"  {display(record['path'])}"
        ]
        fragments = record["fragments"]
        if fragments:
            unit = "cp" if record["unit"] == "code points" else "B"
            lines.append(f"{'':12}  {'LENGTH':>8}  {'COUNT':>6}  {'FIRST OFFSETS':<24}  PREVIEW")
            for fragment in fragments:
                starts = [str(o["start"]) for o in fragment["occurrences"][:SHOWN_OFFSETS]]
                shown = ", ".join(starts) + (", …" if fragment["count"] > SHOWN_OFFSETS else "")
                lines.append(
                    f"{'':12}  {str(fragment['length']) + ' ' + unit:>8}  {fragment['count']:>6}  {shown:<24}"
                    f"  \"{fragment['preview']}\""
                )
        self.emit("\n".join(lines) + "\n")


def _progress_bar(total: int, count: int, quiet: bool) -> Any:
    """A progress bar on standard error, shown only on a terminal and only once the work takes a while."""
    if quiet or not sys.stderr.isatty():
        return None
    try:
        from tqdm import tqdm  # type: ignore[import-untyped,unused-ignore]
    except ImportError:
        return None
    return tqdm(total=total, unit="B", unit_scale=True, unit_divisor=1024, delay=1.0, file=sys.stderr,
                leave=False, desc=f"{count} inputs", dynamic_ncols=True)


def report_error(path: str, message: str) -> None:
    print(f"veltrane: {display(path)}: {message}", file=sys.stderr, flush=True)


def run_scan(args: argparse.Namespace) -> int:
    options = ScanOptions(
        fragments=0 if args.csv else args.fragments,
        times=args.times,
        global_non_overlap=args.global_non_overlap,
        text=args.text,
        fragment_limit=args.fragment_limit,
    )
    if args.paths.count(STDIN) > 1:
        _fail_usage("standard input (-) can be given only once")
    inputs = expand(args.paths, report_error)
    failures = inputs.failures
    bar = _progress_bar(inputs.total_bytes, len(inputs.paths), args.quiet)
    writer = Writer(sys.stdout, "json" if args.json else "csv" if args.csv else "table", bar)
    pool: ProcessPoolExecutor | None = None
    current = inputs.paths[0] if inputs.paths else ""
    try:
        if inputs.paths:
            writer.header(options)
        futures: dict[int, Future[tuple[bool, Any]]] = {}
        files = [i for i, path in enumerate(inputs.paths) if path != STDIN]
        if args.jobs > 1 and len(files) > 1:
            import multiprocessing

            # A fresh server process forks the workers: never a copy of this
            # process, whose native worker threads may already be running.
            pool = ProcessPoolExecutor(
                max_workers=min(args.jobs, len(files)),
                mp_context=multiprocessing.get_context("forkserver"),
                initializer=_worker_init,
            )
            futures = {i: pool.submit(scan_one, inputs.paths[i], options) for i in files}
        for i, path in enumerate(inputs.paths):
            current = path
            ok, outcome = futures[i].result() if i in futures else scan_one(path, options)
            if ok:
                writer.record(outcome)
            else:
                report_error(path, outcome)
                failures += 1
            if bar is not None and path != STDIN:
                bar.update(outcome["size"] if ok else 0)
    except KeyboardInterrupt:
        _stop(pool, bar)
        print(f"veltrane: interrupted while scanning {display(current)}", file=sys.stderr)
        return EXIT_INTERRUPTED
    except OutputClosed:
        _stop(pool, bar)
        _silence_stdout()
        print(f"veltrane: output closed (broken pipe) while writing the result of {display(current)}; "
              "stopped", file=sys.stderr)
        return EXIT_FAILED
    finally:
        _stop(pool, bar)
    return EXIT_FAILED if failures else EXIT_OK


def _stop(pool: ProcessPoolExecutor | None, bar: Any) -> None:
    if bar is not None:
        bar.close()
    if pool is not None:
        # The workers ignore Ctrl-C; end them rather than wait for big files.
        for process in list(getattr(pool, "_processes", {}).values()):
            process.terminate()
        pool.shutdown(wait=True, cancel_futures=True)


def _silence_stdout() -> None:
    # Nothing more can reach the reader; keep the interpreter's final flush from failing too.
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
    except (OSError, ValueError):
        pass


# --------------------------------------------------------------------------- profile


def _require_matplotlib() -> None:
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        _fail_usage("--plot needs matplotlib, which is not installed: pip install 'veltrane[plot]'")


def draw_profile(result: Profile, name: str, target: str) -> None:
    import matplotlib

    matplotlib.use("Agg")
    from matplotlib import pyplot

    figure, axes = pyplot.subplots(figsize=(10, 3.5), layout="constrained")
    try:
        # Each value holds from its window's start to the next start; the last one to the end.
        xs = [*result.offsets, result.size]
        ys = [*result.values, result.values[-1]] if result.values else [0.0]
        axes.step(xs, ys, where="post", linewidth=1.0, color="tab:gray", label=result.measure)
        axes.axhline(result.high, color="tab:red", linestyle=":", linewidth=0.8, label=f"high {result.high}")
        axes.axhline(result.low, color="tab:blue", linestyle=":", linewidth=0.8, label=f"low {result.low}")
        for edge in result.edges:
            axes.axvline(edge.offset, color="tab:red" if edge.direction == "rising" else "tab:blue", linewidth=1.2)
        for start, end in result.regions:
            axes.axvspan(start, end, color="tab:red", alpha=0.08)
        axes.set_xlim(0, max(result.size, 1))
        axes.set_ylim(0, 1.05)
        axes.set_xlabel("offset (bytes)")
        axes.set_ylabel("entropy (H/8)" if result.measure == "metric" else "normalised entropy")
        axes.set_title(f"{name}: window {result.window}, step {result.step}")
        axes.legend(loc="lower right", fontsize="small")
        figure.savefig(target, format="png", dpi=100)
    finally:
        pyplot.close(figure)


def profile_record(path: str, result: Profile) -> dict[str, Any]:
    return {
        "path": path,
        "size": result.size,
        "window": result.window,
        "step": result.step,
        "measure": result.measure,
        "high": result.high,
        "low": result.low,
        "edges": [{"offset": e.offset, "direction": e.direction, "value": e.value} for e in result.edges],
        "regions": [{"start": start, "end": end} for start, end in result.regions],
        "offsets": list(result.offsets),
        "values": list(result.values),
    }


def profile_table(path: str, result: Profile, windows: bool) -> str:
    scale = "H/8" if result.measure == "metric" else "normalised"
    lines = [
        f"{display(path)}: {result.size} bytes, {len(result.offsets)} windows of {result.window} bytes "
        f"every {result.step}; {scale}; high {result.high}, low {result.low}"
    ]
    if windows:
        lines.append(f"{'OFFSET':>12}  {'VALUE':>6}")
        for offset, value in zip(result.offsets, result.values):
            lines.append(f"{offset:>12}  {_number(value):>6}  {'#' * round(value * 40)}")
    if result.edges:
        lines.append(f"{'EDGE':>12}  {'OFFSET':>12}  {'HEX':>10}  VALUE")
        for edge in result.edges:
            lines.append(f"{edge.direction:>12}  {edge.offset:>12}  {edge.offset:#10x}  {_number(edge.value)}")
    else:
        lines.append("no edges")
    for start, end in result.regions:
        lines.append(f"high-entropy region {start}..{end} ({end - start} bytes)")
    return "\n".join(lines) + "\n"


def run_profile(args: argparse.Namespace) -> int:
    if args.low > args.high:
        _fail_usage(f"--low ({args.low}) must not exceed --high ({args.high})")
    if args.plot:
        _require_matplotlib()
    try:
        if args.path == STDIN:
            opened = mapped_file(sys.stdin.buffer)
        else:
            opened = mapped(args.path)
        with opened as content:
            result = entropy_profile(content, args.window, args.step, high=args.high, low=args.low,
                                     measure=args.measure)
    except (OSError, MemoryError, ValueError) as error:
        report_error(args.path, describe_error(error))
        return EXIT_FAILED
    except KeyboardInterrupt:
        print(f"veltrane: interrupted while profiling {display(args.path)}", file=sys.stderr)
        return EXIT_INTERRUPTED
    if args.json:
        text = json.dumps(profile_record(args.path, result), ensure_ascii=False) + "\n"
    elif args.csv:
        buffer = io.StringIO()
        rows = csv.writer(buffer, lineterminator="\n")
        rows.writerow(["offset", "end", "value"])
        for offset, value in zip(result.offsets, result.values):
            rows.writerow([offset, min(offset + result.window, result.size), repr(value)])
        text = buffer.getvalue()
    else:
        text = profile_table(args.path, result, args.windows)
    try:
        sys.stdout.write(text)
        sys.stdout.flush()
    except BrokenPipeError:
        _silence_stdout()
        print(f"veltrane: output closed (broken pipe) while writing the profile of {display(args.path)}",
              file=sys.stderr)
        return EXIT_FAILED
    if args.plot:
        try:
            draw_profile(result, display(args.path), args.plot)
        except (OSError, ValueError) as error:
            report_error(args.plot, describe_error(error))
            return EXIT_FAILED
    return EXIT_OK


def main(argv: Union[Sequence[str], None] = None) -> int:
    """Runs the command line; returns the exit status."""
    try:
        args = build_parser().parse_args(argv)
        if args.command == "scan":
            return run_scan(args)
        return run_profile(args)
    except KeyboardInterrupt:
        print("veltrane: interrupted", file=sys.stderr)
        return EXIT_INTERRUPTED
