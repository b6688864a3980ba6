"""`veltrane corpus --dedup OUT` and `--mark SPANS.jsonl`: the deduplication, written out."""
from __future__ import annotations

import argparse
import json
import sys

from .._corpus import DuplicateSpans, duplicate_spans
from .._corpus_load import LoadedCorpus
from .._corpus_sources import InputError
from .activity import Activity, report_error


def deduplicate_corpus(args: argparse.Namespace, corpus: LoadedCorpus, activity: Activity) -> int:
    """Finds the ranges, then writes the corpus without them or the ranges; returns the inputs that failed."""
    activity.start("deduplicating", "the corpus")
    spans = duplicate_spans(corpus, min_length=args.min_length, keep=args.keep, whole_lines=args.whole_lines)
    if args.mark is not None:
        return _write_marks(args.mark, spans, activity)
    from .._corpus_write import write_deduplicated

    activity.start("writing", args.dedup, "the output")
    try:
        summary = write_deduplicated(corpus, args.dedup, lambda i: spans.kept_document(corpus, i),
                                     report=report_error)
    except InputError as error:
        report_error(error.name, error.reason)
        return 1
    except ValueError as error:
        report_error(args.dedup, str(error))
        return 1
    print(f"{len(corpus)} documents read, {summary.changed} changed, {summary.bytes_removed} bytes removed "
          f"({_passes(spans)})", flush=True)
    return len(summary.failed)


def _passes(spans: DuplicateSpans) -> str:
    return f"{spans.passes} pass" if spans.passes == 1 else f"{spans.passes} passes, the last removing nothing"


def _write_marks(path: str, spans: DuplicateSpans, activity: Activity) -> int:
    activity.start("writing", path, "the ranges of")
    names = spans.names
    try:
        with (sys.stdout if path == "-" else open(path, "w", encoding="utf-8")) as out:
            for document, start, end in spans:
                out.write(json.dumps({"document": names[document], "start": start, "end": end},
                                     ensure_ascii=False) + "\n")
    except OSError as error:
        report_error(path, error.strerror or str(error))
        return 1
    changed = len(set(spans.documents))
    print(f"{len(names)} documents read, {changed} with ranges to remove, {spans.removed_bytes} bytes in them "
          f"({_passes(spans)})", file=sys.stderr if path == "-" else sys.stdout, flush=True)
    return 0
