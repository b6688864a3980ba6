"""The randomness battery against ent, the histogram, the old per-measure calls and one thread (run by hand).

    python bench/bench_battery.py [SIZE_MIB]     (default 256)

Measured side by side in one run, best of five each (`ent`, at about two seconds a run, best of
ENT_REPEAT; the engine after a call that starts the worker pool):
- `veltrane.measure` on SIZE_MIB MiB of random bytes against `ent` on the same
  file, and against one native count of the bytes (`_veltrane`'s
  `measure_entropy`: the histogram and 256 logarithms);
- `scan(fragments=0)` against that one count (it used to make four);
- two threads measuring 64 KiB inputs (each call below the parallel threshold,
  so on its own thread) against one thread, the median of THREAD_ROUNDS rounds;
- `entropy_profile` of a 23 MB file with 4 KiB windows every 64 bytes against
  measuring each window with its own call, as the profile did before.
"""
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import _veltrane
import veltrane

#: Alternations of one and two threads for the threads figure.
THREAD_ROUNDS = 7
#: Runs of `ent`: its best against the engine's best, as its time moves by a tenth between runs.
ENT_REPEAT = 3


def best(call, repeat=5):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return min(times)


def per_window_profile(data, window, step):
    function = _veltrane.shannon_entropy.measure_metric_entropy
    view = memoryview(data)
    size = len(data)
    starts = list(range(0, size - window + 1, step))
    if starts[-1] + window < size:
        starts.append(size - window)
    return [function(view[s : s + window]) for s in starts]


def threads_throughput(inputs, threads, seconds=2.0):
    calls = [0] * threads
    deadline = time.perf_counter() + seconds

    def work(k):
        i = k
        while time.perf_counter() < deadline:
            veltrane.measure(inputs[i % len(inputs)])
            i += 1
            calls[k] += 1

    workers = [threading.Thread(target=work, args=(k,)) for k in range(threads)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    return sum(calls) / seconds


def main(argv):
    size = (int(argv[0]) if argv else 256) << 20
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "random.bin")
        with open(path, "wb") as out:
            for _ in range(size >> 20):
                out.write(os.urandom(1 << 20))
        with open(path, "rb") as handle:
            data = handle.read()
        print(f"{size >> 20} MiB of random bytes, {len(os.sched_getaffinity(0))} CPUs")
        if shutil.which("ent"):
            ent = best(lambda: subprocess.run(["ent", path], check=True, stdout=subprocess.DEVNULL), repeat=ENT_REPEAT)
        else:
            ent = float("nan")
        veltrane.measure(data[:1 << 20])
        battery = best(lambda: veltrane.measure(data))
        count = best(lambda: _veltrane.shannon_entropy.measure_entropy(data))
        scan = best(lambda: veltrane.scan(data, fragments=0))
        print(f"  ent: {ent:.2f} s   battery: {battery:.3f} s   one count: {count:.3f} s   scan(fragments=0): "
              f"{scan:.3f} s")
        print(f"  battery vs ent: {ent / battery:.0f}x faster;  battery speed / count speed: {count / battery:.2f};"
              f"  scan / count: {scan / count:.2f}")

    small = [random.Random(i).randbytes(64 << 10) for i in range(16)]
    # One and two threads in turn, several times: on a shared machine a single
    # pair says more about the neighbours than about the engine.
    pairs = [(threads_throughput(small, 1), threads_throughput(small, 2)) for _ in range(THREAD_ROUNDS)]
    one, two = statistics.median(p[0] for p in pairs), statistics.median(p[1] for p in pairs)
    ratios = sorted(round(b / a, 2) for a, b in pairs)
    print(f"64 KiB inputs: 1 thread {one:.0f} calls/s, 2 threads {two:.0f} calls/s (medians of {THREAD_ROUNDS} "
          f"rounds): {statistics.median(ratios):.2f}x; the rounds' ratios {ratios}")

    layers = (random.Random(1).randbytes(8 << 20) + bytes(7 << 20)
              + b"".join(open(p, "rb").read() for p in (sys.executable,)) * 1)
    layers = (layers * (1 + (23_000_000 // len(layers))))[:23_000_000]
    windows = len(veltrane.entropy_profile(layers, 4096, 64).offsets)
    engine = best(lambda: veltrane.entropy_profile(layers, 4096, 64))
    old = best(lambda: per_window_profile(layers, 4096, 64), repeat=1)
    print(f"profile of 23 MB, 4 KiB windows every 64 bytes ({windows} windows): {engine:.3f} s, "
          f"one call per window {old:.2f} s: {old / engine:.0f}x")


if __name__ == "__main__":
    main(sys.argv[1:])
