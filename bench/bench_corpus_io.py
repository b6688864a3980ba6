"""Reading and writing a corpus for `veltrane corpus` (run by hand), against plain Python doing the least.

    python bench/bench_corpus_io.py [--files N] [--mib M] [--jsonl-mib J] [--repeat R]

Makes a directory of N files (default 100,000) of text holding M MiB in all
(default 500), and one JSON Lines file of about J MiB (default 200) of
records of ~2 KiB, then times in a fresh process each (best of R, wall and
CPU, and the process's peak resident memory per corpus byte):

- files: load_corpus against reading every file whole with open().read()
  (the I/O floor: no buffer kept), then write_deduplicated with nothing
  removed against shutil.copyfile of every file;
- JSON Lines: load_corpus with field=text against json.loads of every line,
  then write_deduplicated with every record changed against json.loads and
  json.dumps of every line.

The files sit in the page cache (just written), so the figures are the
code's own cost: a cold disk only adds the same wait to both sides.
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import textwrap

CHILD = textwrap.dedent("""
    import json, os, resource, shutil, sys, time
    from veltrane._corpus_load import load_corpus
    from veltrane._corpus_write import write_deduplicated

    what, source, out = sys.argv[1:4]
    def walked(root):
        for entry in sorted(os.scandir(root), key=lambda e: e.name):
            yield from walked(entry.path) if entry.is_dir() else [entry.path]

    start, cpu = time.perf_counter(), time.process_time()
    if what == "read-files":
        for path in walked(source):
            with open(path, "rb") as handle:
                handle.read()
    elif what == "load-files":
        load_corpus([source])
    elif what == "copy-files":
        for path in walked(source):
            target = os.path.join(out, path.lstrip("/"))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copyfile(path, target)
    elif what == "write-files":
        corpus = load_corpus([source])
        start, cpu = time.perf_counter(), time.process_time()
        write_deduplicated(corpus, out, corpus.document)
    elif what == "parse-jsonl":
        with open(source, "rb") as handle:
            for line in handle:
                json.loads(line)["text"].encode()
    elif what == "load-jsonl":
        load_corpus([source], field="text")
    elif what == "reserialize-jsonl":
        with open(source, "rb") as handle, open(os.path.join(out, "x.jsonl"), "wb") as written:
            for line in handle:
                record = json.loads(line)
                record["text"] = record["text"][1:]
                written.write(json.dumps(record, ensure_ascii=False).encode() + b"\\n")
    elif what == "write-jsonl":
        corpus = load_corpus([source], field="text")
        start, cpu = time.perf_counter(), time.process_time()
        def kept(i):  # the first character taken off (whole: removals never split one)
            d = corpus.document(i)
            k = 1
            while k < len(d) and 0x80 <= d[k] < 0xC0:
                k += 1
            return d[k:]
        write_deduplicated(corpus, out, kept)
    wall, cpu = time.perf_counter() - start, time.process_time() - cpu
    print(wall, cpu, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024)
""")


def measure(what, source, repeat):
    best = None
    for _ in range(repeat):
        with tempfile.TemporaryDirectory() as out:
            done = subprocess.run([sys.executable, "-c", CHILD, what, source, out],
                                  capture_output=True, text=True, timeout=3600)
        if done.returncode:
            sys.exit(f"{what} failed:\n{done.stderr}")
        wall, cpu, rss = (float(x) for x in done.stdout.split())
        best = (wall, cpu, rss) if best is None or wall < best[0] else best
    return best


def make_files(root, files, total):
    rng = random.Random(1)
    words = [bytes(rng.choices(b"abcdefghijklmnopqrstuvwxyz", k=rng.randint(2, 9))) for _ in range(5000)]
    pool = b" ".join(rng.choices(words, k=400_000))
    mean = total // files
    for i in range(files):
        size = rng.randint(mean // 2, mean * 3 // 2)
        start = rng.randrange(len(pool) - size)
        folder = os.path.join(root, f"{i // 1000:03d}")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, f"{i:06d}.txt"), "wb") as handle:
            handle.write(pool[start:start + size])


def make_jsonl(path, total):
    rng = random.Random(2)
    text = "".join(rng.choices("abcdefghij klmnopqrstuvwxyz éü", k=1 << 20))
    import json

    written = 0
    with open(path, "w", encoding="utf-8") as handle:
        while written < total:
            start = rng.randrange(len(text) - 2100)
            line = json.dumps({"id": written, "text": text[start:start + rng.randint(1500, 2500)], "lang": "xx"},
                              ensure_ascii=False) + "\n"
            handle.write(line)
            written += len(line.encode())


def report(label, ours, theirs, corpus_bytes):
    print(f"{label}: {ours[0]:.2f} s wall, {ours[1]:.2f} s CPU; plain Python {theirs[0]:.2f} s wall, "
          f"{theirs[1]:.2f} s CPU: x{ours[0] / theirs[0]:.2f} the time; peak memory {ours[2] / corpus_bytes:.2f} "
          f"bytes per corpus byte ({ours[2] / 2**20:.0f} MiB; plain {theirs[2] / 2**20:.0f} MiB)")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--files", type=int, default=100_000)
    parser.add_argument("--mib", type=int, default=500)
    parser.add_argument("--jsonl-mib", type=int, default=200)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="veltrane-corpus-bench-")
    try:
        files = os.path.join(work, "files")
        make_files(files, args.files, args.mib << 20)
        corpus_bytes = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(files) for f in fs)
        print(f"{args.files} files, {corpus_bytes / 2**20:.0f} MiB")
        report("load_corpus", measure("load-files", files, args.repeat),
               measure("read-files", files, args.repeat), corpus_bytes)
        report("write_deduplicated (files)", measure("write-files", files, args.repeat),
               measure("copy-files", files, args.repeat), corpus_bytes)
        jsonl = os.path.join(work, "records.jsonl")
        make_jsonl(jsonl, args.jsonl_mib << 20)
        size = os.path.getsize(jsonl)
        print(f"JSON Lines: {size / 2**20:.0f} MiB")
        report("load_corpus field=text", measure("load-jsonl", jsonl, args.repeat),
               measure("parse-jsonl", jsonl, args.repeat), size)
        report("write_deduplicated (JSON Lines, every record changed)", measure("write-jsonl", jsonl, args.repeat),
               measure("reserialize-jsonl", jsonl, args.repeat), size)
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
