"""`veltrane corpus --dedup OUT | --mark SPANS.jsonl --scheduler ADDRESS`: the deduplication on a Dask cluster.

What it prints and writes is what the one-machine run prints and writes
(corpus_dedup.py): the same output bytes, the same ranges, the same summary line.
"""
from __future__ import annotations

import argparse
import json
import sys

from .._cluster import connect
from .._corpus_sources import InputError
from .._locations import MissingExtra
from .activity import Activity, report_error
from .exits import UsageError
from .runner import THREADS_VARIABLE


def _passes(passes: int) -> str:
    return f"{passes} pass" if passes == 1 else f"{passes} passes, the last removing nothing"


def deduplicate_on_cluster_command(args: argparse.Namespace, activity: Activity) -> int:
    """Runs the deduplication on the cluster at --scheduler; returns the inputs that failed."""
    from .._cluster_dedup import deduplicate_on_cluster

    try:
        client, closing = connect(args.scheduler, threads_variable=THREADS_VARIABLE)
    except MissingExtra as error:
        raise UsageError(str(error)) from None
    except (OSError, ValueError) as error:
        raise UsageError(str(error.strerror if isinstance(error, OSError) else error)) from None
    with closing:
        activity.start("deduplicating", "the corpus", "on the cluster")
        try:
            done = deduplicate_on_cluster(
                client, args.paths, text_field=args.field, min_length=args.min_length, keep=args.keep,
                whole_lines=args.whole_lines, out=args.dedup, ranges=args.mark is not None,
                shard_size=args.shard_size, report=report_error)
        except InputError as error:
            report_error(error.name, error.reason)
            return 1
        except ValueError as error:
            report_error(args.dedup or args.mark, str(error))
            return 1
        except Exception as error:
            if _lost_workers(error):
                report_error(args.dedup or args.mark, "the cluster's workers died running one step again and again "
                             "(too little memory for a shard? a smaller --shard-size needs less); the output is "
                             "incomplete")
            elif _raised_by_dask(error):
                report_error(args.dedup or args.mark, f"the cluster failed ({type(error).__name__} in Dask: {error}); "
                             "the output is incomplete")
            else:
                raise
            return 1
    failures = len(done.failed)
    if args.mark is not None:
        return failures + _write_marks(args.mark, done, activity)
    changed = sum(write.summary.changed for write in done.writes)
    removed = sum(write.summary.bytes_removed for write in done.writes)
    print(f"{len(done.names)} documents read, {changed} changed, {removed} bytes removed ({_passes(done.passes)})",
          flush=True)
    return failures


def _lost_workers(error: BaseException) -> bool:
    from distributed import KilledWorker

    return isinstance(error, KilledWorker)


def _raised_by_dask(error: BaseException) -> bool:
    """Whether `error` came out of Dask itself (after a worker is lost, its client may fail to name the cause)."""
    frame = None
    traceback = error.__traceback__
    while traceback is not None:
        frame, traceback = traceback.tb_frame, traceback.tb_next
    module = frame.f_globals.get("__name__", "") if frame is not None else ""
    return isinstance(module, str) and module.split(".")[0] in ("distributed", "dask")


def _write_marks(path: str, done: object, activity: Activity) -> int:
    from .._cluster_dedup import ClusterDedup

    assert isinstance(done, ClusterDedup)
    activity.start("writing", path, "the ranges of")
    names = done.names
    try:
        with (sys.stdout if path == "-" else open(path, "w", encoding="utf-8")) as out:
            for document, start, end in done.ranges:
                out.write(json.dumps({"document": names[document], "start": start, "end": end},
                                     ensure_ascii=False) + "\n")
    except OSError as error:
        report_error(path, error.strerror or str(error))
        return 1
    print(f"{len(names)} documents read, {done.changed_documents} with ranges to remove, {done.removed_bytes} bytes "
          f"in them ({_passes(done.passes)})", file=sys.stderr if path == "-" else sys.stdout, flush=True)
    return 0
