"""`veltrane corpus`: what the documents of a corpus share, or its exact deduplication."""
from __future__ import annotations

import argparse
import sys
from typing import Union

from .._corpus import CORPUS_MIN_LENGTH, SharedRepeat, shared_repeats
from .._cluster_dedup_plan import DEFAULT_SHARD_SIZE, SHARD_SHARE_OF_MEMORY, SHARDS_PER_THREAD
from .._corpus_load import LoadedCorpus, load_corpus
from .._locations import MissingExtra
from .activity import Activity, report_error
from .corpus_cluster import deduplicate_on_cluster_command
from .corpus_dedup import deduplicate_corpus
from .exits import EXIT_CODES, EXIT_FAILED, EXIT_OK, UsageError
from .fragment_options import add_fragment_filters
from .numbers import parse_size, whole_number
from .output import Output
from .render_corpus import render_json, render_table
from .render_cpd import render_cpd
from .subcommand import Subcommands, add_command

CORPUS_EPILOG = (
    """\
documents:
  each file is a document (directories are walked in name order, as scan walks
  them); with --field NAME, each record of a JSON Lines file (.jsonl, .jsonl.gz)
  is one, its field NAME, and each row of a Parquet file (.parquet, needs
  pip install 'veltrane[parquet]') is one, its column NAME. A record is named
  PATH:N (N from 1). Positions are byte offsets in a document; no fragment
  crosses from one document into the next.

output formats (what the documents share):
  default       the top fragments: length, count, documents touched, bytes saved,
                a preview, and where they occur (NAME:LINE-END_LINE, NAME@START-END
                for binary documents)
  --json        one object: {"documents": [names in corpus order], "groups": [{"length",
                "count", "documents", "saved", "occurrences": [{"document", "start",
                "end", "line", "end_line"}, ...]}, ...]} (lines null for binary documents)
  --format cpd  PMD CPD's XML report (every fragment unless --top is given)

deduplication (--dedup OUT or --mark SPANS.jsonl):
  --keep first removes every byte that a window of --min-length bytes covering it
  repeats from earlier in the corpus; --keep none removes every copy. Ranges are
  cut to whole UTF-8 characters (and with --whole-lines to whole lines), and the
  passes repeat until one removes nothing, so deduplicating the output again
  removes nothing. OUT mirrors the inputs: files under OUT at their paths, JSON
  Lines and Parquet written again with the field edited and everything else kept.
  --mark writes the ranges instead, one {"document", "start", "end"} per line.
  With --scheduler, the same runs on a Dask cluster: the corpus is cut into shards
  of whole documents (--shard-size; a large uncompressed JSON Lines input into
  pieces of its records), each worker reads and writes its own, and the output,
  the ranges and the summary are those of the run on one machine.

"""
    + EXIT_CODES
)


def add_parser(commands: Subcommands) -> None:
    corpus = add_command(
        commands, "corpus", run_corpus,
        help="what the documents of a corpus share, or its exact deduplication",
        description="The repeated fragments a set of documents share (ranked as scan ranks them), or the corpus "
        "with every repeated span of --min-length bytes or more removed.",
        epilog=CORPUS_EPILOG,
    )
    corpus.add_argument("paths", nargs="+", metavar="PATH",
                        help="a file, a directory (walked recursively) or a URL (any fsspec URL; a prefix is walked)")
    corpus.add_argument("--field", metavar="NAME", default=None,
                        help="the text field of JSON Lines records and the column of Parquet rows to read")
    corpus.add_argument("--min-length", type=whole_number(1), default=CORPUS_MIN_LENGTH, metavar="L",
                        help=f"shortest repeated span, in bytes (default {CORPUS_MIN_LENGTH})")
    shared = corpus.add_argument_group("what the documents share")
    shared.add_argument("--top", type=whole_number(0), default=None, metavar="N",
                        help="how many fragments to report (default 20; every one with --format cpd)")
    shared.add_argument("--times", type=whole_number(2), default=2, metavar="T",
                        help="least number of non-overlapping occurrences of a fragment (default 2)")
    add_fragment_filters(shared, elements="bytes", entropy_default="none")
    shared.add_argument("--min-lines", type=whole_number(1), default=None, metavar="N",
                        help="only fragments whose first occurrence spans N lines or more (from its first "
                        "line to its last)")
    form = shared.add_mutually_exclusive_group()
    form.add_argument("--json", action="store_true", help="write one JSON object")
    form.add_argument("--format", choices=("table", "json", "cpd"), default=None,
                      help="table (default), json (as --json) or cpd (PMD CPD's XML)")
    dedup = corpus.add_argument_group("deduplication")
    target = dedup.add_mutually_exclusive_group()
    target.add_argument("--dedup", metavar="OUT", default=None,
                        help="write the deduplicated corpus under OUT (a directory or URL), mirroring the inputs")
    target.add_argument("--mark", metavar="SPANS.jsonl", default=None,
                        help="write the ranges deduplication removes, one JSON object per line, instead")
    dedup.add_argument("--keep", choices=("first", "none"), default="first",
                       help="first: keep the first copy of every span (default); none: remove every copy")
    dedup.add_argument("--whole-lines", action="store_true", help="remove whole lines only")
    dedup.add_argument("--scheduler", metavar="ADDRESS", default=None,
                       help="deduplicate on the Dask cluster whose scheduler is at ADDRESS (tcp://host:8786), or on a "
                       "new local cluster of N worker processes with local:N; each worker reads and writes its own "
                       "shards (needs pip install 'veltrane[cluster]')")
    dedup.add_argument("--shard-size", type=parse_size, default=None, metavar="SIZE",
                       help="with --scheduler: shards of whole documents of at most SIZE bytes (default: "
                       f"1/{SHARD_SHARE_OF_MEMORY} of a worker thread's share of the smallest memory limit, "
                       f"{DEFAULT_SHARD_SIZE >> 20}M when none is stated, or less to give each thread "
                       f"{SHARDS_PER_THREAD} shards); an uncompressed JSON Lines input larger than that is cut "
                       "into pieces of its records, any other larger input is a shard of its own")


def run_corpus(args: argparse.Namespace, activity: Activity) -> int:
    if args.max_length is not None and args.max_length < args.min_length:
        raise UsageError(f"--max-length ({args.max_length}) must be at least --min-length ({args.min_length})")
    deduplicating = args.dedup is not None or args.mark is not None
    if not deduplicating and (args.keep != "first" or args.whole_lines):
        raise UsageError("--keep and --whole-lines need --dedup OUT or --mark SPANS.jsonl")
    if deduplicating and (args.json or args.format or args.top is not None or args.min_lines):
        raise UsageError("--json, --format, --top and --min-lines shape the report; --dedup and --mark write no report")
    if args.scheduler is not None:
        if not deduplicating:
            raise UsageError("--scheduler needs --dedup OUT or --mark SPANS.jsonl")
        if args.shard_size is not None and args.shard_size < 1:
            raise UsageError("--shard-size must be at least 1 byte")
        return EXIT_FAILED if deduplicate_on_cluster_command(args, activity) else EXIT_OK
    activity.start("reading", args.paths[0] if len(args.paths) == 1 else f"{len(args.paths)} inputs")
    try:
        corpus = load_corpus(args.paths, field=args.field, report=report_error)
    except MissingExtra as error:
        raise UsageError(str(error)) from None
    failures = len(corpus.failed)
    if deduplicating:
        failures += deduplicate_corpus(args, corpus, activity)
    else:
        activity.start("searching", "the corpus")
        report(args, corpus)
    return EXIT_FAILED if failures else EXIT_OK


def report(args: argparse.Namespace, corpus: LoadedCorpus) -> None:
    form = "json" if args.json else args.format or "table"
    top: Union[int, None] = args.top if args.top is not None else (None if form == "cpd" else 20)
    # A line threshold is known only once a fragment is found: search them all, keep the top after.
    found = shared_repeats(
        corpus, top=None if args.min_lines else top, min_count=args.times, min_length=args.min_length,
        max_length=args.max_length, rank=args.rank, maximal=not args.raw, exclude_periodic=not args.raw,
        min_entropy=None if args.raw else args.min_entropy, non_overlap=not args.overlap)
    groups: list[SharedRepeat] = []
    for group in found:
        if top is not None and len(groups) >= top:
            break
        first = group.occurrences[0]
        if args.min_lines and (first.line is None or (first.end_line or 0) - first.line + 1 < args.min_lines):
            continue
        groups.append(group)
    output = Output(sys.stdout)
    if form == "json":
        render_json(output, found, groups)
    elif form == "cpd":
        render_cpd(output, corpus, groups)
    else:
        render_table(output, corpus, groups)

