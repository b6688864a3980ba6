"""What one exchange of the cluster deduplication costs per cell of its (senders, destinations) array (run by hand).

    python bench/bench_cluster_exchange.py [--payload BYTES] [N ...]   (default: 60 200 400 800)

N rows of N cells each, one cell in seven holding 16 bytes (or BYTES; the rest empty),
go through the deduplication's exchange (Dask's P2P rechunk) on a 2-worker
LocalCluster; each column is counted where it lands, once in one rechunk and
once in two (the exchange's choice from TWO_STAGES cells on). Reported: the
wall time and the time per cell of each. One rechunk handles every cell,
empty or not, at a fixed cost, so it grows with senders x destinations; two
cut 2 x senders x sqrt(destinations) slices.
"""
import sys
import time


def row(width, payload=16):
    import numpy

    cells = numpy.empty((1, width), dtype=object)
    for destination in range(0, width, 7):
        cells[0, destination] = b"x" * payload
    return cells


def held(column):
    return sum(1 for payload in column.flat if payload is not None)


def main():
    from distributed import Client, LocalCluster

    import veltrane._cluster_dedup_exchange as exchanges
    from veltrane._cluster_dedup_exchange import Exchange

    arguments = sys.argv[1:]
    payload = 16
    if arguments[:1] == ["--payload"]:
        payload, arguments = int(arguments[1]), arguments[2:]
    sizes = [int(n) for n in arguments] or [60, 200, 400, 800]
    cluster = LocalCluster(n_workers=2, threads_per_worker=1, host="127.0.0.1", dashboard_address="127.0.0.1:0",
                           silence_logs=50)
    client = Client(cluster)
    exchange = Exchange(client)
    for n in sizes:
        for stages, threshold in ((1, n * n + 1), (2, 0)):
            exchanges.TWO_STAGES = threshold
            start = time.perf_counter()
            columns = exchange.exchange([exchange.submit(row, n, payload) for _ in range(n)], n)
            arrived = sum(client.gather([exchange.submit(held, column) for column in columns]))
            wall = time.perf_counter() - start
            assert arrived == n * len(range(0, n, 7))
            moved = n * len(range(0, n, 7)) * payload
            print(f"{n} x {n} cells in {stages} rechunk(s), {moved / 1e6:.0f} MB: {wall:.1f} s, "
                  f"{wall / n / n * 1e6:.0f} us per cell", flush=True)
    client.close()
    cluster.close()


if __name__ == "__main__":
    main()
