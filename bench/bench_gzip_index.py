"""The gzip checkpoint index (run by hand): what the survey costs, and what a piece read from its checkpoint saves.

    python bench/bench_gzip_index.py [--mib M] [--pieces P] [--repeat R] [--file PATH]

Makes (once; kept at PATH, default build/bench/records.jsonl.gz) about M MiB (default 200) of
JSON Lines records of ~100 bytes, gzipped at level 6, then times, best of R (default 3), wall
and CPU:

- the survey, index_gzip with spacing size / P (default 16), against gzip.decompress of the
  whole file and against a streaming GzipFile read in 1 MiB chunks (what a reader that must
  decode the whole file pays at least);
- one piece of the P, the middle one, read line by line from its checkpoint with open_at,
  against reading with GzipFile line by line from the start to that piece's end;
- every piece read that way, one after another (what P workers do in all), against
  GzipFile from the start to each piece's end.

The file sits in the page cache, so the figures are the code's own cost.
"""
import argparse
import gzip
import io
import os
import random
import sys
import time

from veltrane._gzip_index import index_gzip, open_at


def make_file(path, mib):
    rng = random.Random(20)
    words = [w.encode() for w in ("entropy window block alpha beta gamma delta record corpus text value "
                                  "the of and to in is it for on with as by at from").split()]
    with gzip.GzipFile(path, "wb", compresslevel=6, mtime=0) as out:
        written, i = 0, 0
        while written < mib << 20:
            lines = [b'{"id": %d, "score": %d, "text": "%s"}\n' % (i + j, rng.getrandbits(20),
                                                                   b" ".join(rng.choices(words, k=12)))
                     for j in range(10000)]
            i += 10000
            chunk = b"".join(lines)
            out.write(chunk)
            written += len(chunk)


def best(repeat, work):
    """(wall, cpu, result) of the fastest of `repeat` runs."""
    runs = []
    for _ in range(repeat):
        start, cpu = time.perf_counter(), time.process_time()
        result = work()
        runs.append((time.perf_counter() - start, time.process_time() - cpu, result))
    return min(runs, key=lambda r: r[0])


def lines_from_checkpoint(path, checkpoint, length):
    count = 0
    with open(path, "rb") as handle, open_at(handle, checkpoint) as reader:
        for line in reader:
            count += 1
            length -= len(line)
            if length <= 0:
                break
    return count


def lines_from_start(path, end):
    count, done = 0, 0
    with gzip.open(path, "rb") as reader:
        for line in reader:
            count += 1
            done += len(line)
            if done >= end:
                break
    return count


def stream_whole(path):
    with gzip.open(path, "rb") as reader:
        while reader.read(1 << 20):
            pass


def report(name, ours, theirs):
    print(f"{name}: {ours[0]:.3f} s wall / {ours[1]:.3f} s CPU against {theirs[0]:.3f} s / {theirs[1]:.3f} s: "
          f"{theirs[0] / ours[0]:.2f}x")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mib", type=int, default=200)
    parser.add_argument("--pieces", type=int, default=16)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--file", default=os.path.join(os.path.dirname(__file__), "..", "build", "bench",
                                                       "records.jsonl.gz"))
    args = parser.parse_args()
    if not os.path.exists(args.file):
        os.makedirs(os.path.dirname(args.file), exist_ok=True)
        print(f"making {args.file} ...", file=sys.stderr)
        make_file(args.file, args.mib)
    compressed = os.path.getsize(args.file)
    with open(args.file, "rb") as handle:
        size = index_gzip(handle, 1 << 40).size
    spacing = -(-size // args.pieces)
    print(f"{args.file}: {compressed / 2**20:.1f} MiB gzipped, {size / 2**20:.1f} MiB of text, "
          f"{args.pieces} pieces of {spacing / 2**20:.1f} MiB")

    def survey():
        with open(args.file, "rb") as handle:
            return index_gzip(handle, spacing)

    surveyed = best(args.repeat, survey)
    index = surveyed[2]
    with open(args.file, "rb") as handle:
        whole = handle.read()
    decompressed = best(args.repeat, lambda: gzip.decompress(whole))
    del whole
    streamed = best(args.repeat, lambda: stream_whole(args.file))
    report("survey vs gzip.decompress of the whole", surveyed, decompressed)
    report("survey vs a streaming GzipFile read", surveyed, streamed)

    # Piece k runs from the k-th checkpoint (the start for k = 0) to the next.
    starts = [0] + [c.position for c in index.checkpoints]
    ends = starts[1:] + [size]
    middle = len(starts) // 2
    checkpoint = index.checkpoints[middle - 1]
    ours = best(args.repeat, lambda: lines_from_checkpoint(args.file, checkpoint, ends[middle] - starts[middle]))
    theirs = best(args.repeat, lambda: lines_from_start(args.file, ends[middle]))
    report(f"piece {middle} of {len(starts)}, lines from its checkpoint vs GzipFile lines from the start", ours, theirs)

    def every_piece_ours():
        lines_from_start(args.file, ends[0])
        for c, start, end in zip(index.checkpoints, starts[1:], ends[1:]):
            lines_from_checkpoint(args.file, c, end - start)

    def every_piece_theirs():
        for end in ends:
            lines_from_start(args.file, end)

    report("every piece, one after another", best(1, every_piece_ours), best(1, every_piece_theirs))


if __name__ == "__main__":
    main()
