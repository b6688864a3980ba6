"""The deduplication's exchange on a cluster: column d holds every sender's payload for d, in sender order.

Checked against the transposition of the rows, in one rechunk and in two (a
large exchange's), for shapes whose blocks do not divide evenly. Every test
bounds its own time.
"""
import random

import pytest

from deadline import time_limit
from test_cluster_dedup import cluster  # noqa: F401 - the module's own two-worker cluster

distributed = pytest.importorskip("distributed")
numpy = pytest.importorskip("numpy")


@pytest.fixture(autouse=True)
def deadline():
    with time_limit(150):
        yield


def as_row(payloads):
    cells = numpy.empty((1, len(payloads)), dtype=object)
    for d, payload in enumerate(payloads):
        cells[0, d] = payload
    return cells


def listed(column):
    return [column[s, 0] for s in range(column.shape[0])]


@pytest.mark.parametrize("two_stages", [False, True])
def test_columns_are_the_rows_transposed(cluster, monkeypatch, two_stages):
    import veltrane._cluster_dedup_exchange as exchanges

    monkeypatch.setattr(exchanges, "TWO_STAGES", 0 if two_stages else 1 << 40)
    rng = random.Random(two_stages)
    with distributed.Client(cluster.scheduler_address, timeout=30) as client:
        exchange = exchanges.Exchange(client)
        for senders, width in [(1, 1), (1, 7), (7, 1), (5, 11), (13, 6), (10, 10)]:
            rows = [[rng.choice([None, b"", bytes(rng.randrange(256) for _ in range(rng.randrange(1, 9)))])
                     for _ in range(width)] for _ in range(senders)]
            columns = exchange.exchange([client.submit(as_row, row, pure=False) for row in rows], width)
            got = client.gather([client.submit(listed, column, pure=False) for column in columns])
            assert got == [[row[d] for row in rows] for d in range(width)], (senders, width)


def test_blocks_cover_an_axis_in_order():
    from veltrane._cluster_dedup_exchange import blocks

    for total in range(1, 40):
        for size in range(1, 45):
            chunks = blocks(total, size)
            assert sum(chunks) == total and all(0 < c <= size for c in chunks) and list(chunks[:-1]) == [size] * (
                len(chunks) - 1)
