"""The engine from many threads: it releases the interpreter lock, and every result stays right."""
import os
import random
import threading
import time

import veltrane


def test_other_threads_run_while_the_engine_computes(python_child):
    # The opposite of the native module, which keeps the lock: a pure-Python
    # thread keeps making steps while a long pass computes.
    out = python_child("""
        import sys, threading, time, os, veltrane
        sys.setswitchinterval(0.001)
        raw = os.urandom(1 << 27)
        stop = False
        widest = [0.0]
        def spin():
            last = time.perf_counter()
            while not stop:
                now = time.perf_counter()
                widest[0] = max(widest[0], now - last)
                last = now
        t = threading.Thread(target=spin)
        t.start()
        time.sleep(0.05)
        start = time.perf_counter()
        for _ in range(3):
            veltrane.measure(raw)
        elapsed = time.perf_counter() - start
        stop = True
        t.join()
        print(elapsed, widest[0])
    """)
    elapsed, widest = map(float, out.split())
    assert widest < 0.5 * elapsed


def test_eight_threads_on_small_and_large_inputs_get_every_result_right():
    rng = random.Random(8)
    inputs = [rng.randbytes(64 << 10) for _ in range(6)] + [rng.randbytes(16 << 20), bytes(16 << 20)]
    expected = [veltrane.measure(data) for data in inputs]
    wrong, calls = [], [0] * 8
    deadline = time.monotonic() + 4

    def work(k):
        order = random.Random(k)
        while time.monotonic() < deadline:
            i = order.randrange(len(inputs))
            if veltrane.measure(inputs[i]) != expected[i]:
                wrong.append(i)
            calls[k] += 1

    threads = [threading.Thread(target=work, args=(k,)) for k in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=120)
    assert not any(t.is_alive() for t in threads)
    assert wrong == [] and min(calls) > 0


def test_eight_threads_running_iid_tracks_at_once_get_the_counters_of_one():
    rng = random.Random(9)
    inputs = [bytes(rng.randrange(k) for _ in range(4000)) for k in (2, 3, 16, 256)]
    seed = bytes(range(1, 33))
    expected = [veltrane.sp800_90b_iid(data, seed=seed) for data in inputs]
    wrong, calls = [], [0] * 8

    def work(k):
        for i in range(3):
            j = (k + i) % len(inputs)
            if veltrane.sp800_90b_iid(inputs[j], seed=seed) != expected[j]:
                wrong.append(j)
            calls[k] += 1

    threads = [threading.Thread(target=work, args=(k,)) for k in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=300)
    assert not any(t.is_alive() for t in threads)
    assert wrong == [] and calls == [3] * 8
