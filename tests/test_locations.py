"""Inputs by URL (fsspec's memory:// here) and the split of one input into pieces, without a cluster.

The pieces' merge is checked against one pass of the engine over the whole
input: the figures bit for bit, and the longest run of one byte value as the
engine finds it (the first of the longest).
"""
import functools
import json
import sys

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import veltrane
from veltrane import _engine
from veltrane._cluster import Piece, _measure_piece, longest_run_of, pieces_of
from veltrane._locations import describe_error, read_range, walk_url

fsspec = pytest.importorskip("fsspec")
memory = fsspec.filesystem("memory")


@pytest.fixture
def memory_root(request):
    root = f"/veltrane-test-{request.node.name.replace('[', '-').replace(']', '')}"
    yield root
    if memory.exists(root):
        memory.rm(root, recursive=True)


# Data made of runs, so that runs cross the pieces' edges, fill whole pieces and tie in length.
runs = st.lists(st.tuples(st.sampled_from([0, 0x41, 0xFF]), st.integers(1, 40)), max_size=12)
noise = st.binary(max_size=30)


@settings(max_examples=120, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(st.lists(st.one_of(runs.map(lambda rs: b"".join(bytes([v]) * n for v, n in rs)), noise), max_size=6),
       st.integers(1, 64))
def test_pieces_merge_into_one_pass(memory_root, parts, chunk_size):
    data = b"".join(parts)
    url = f"memory://{memory_root}/input"
    memory.pipe(f"{memory_root}/input", data)
    ranges = pieces_of(len(data), chunk_size)
    assert ranges[0][0] == 0 and ranges[-1][1] == len(data)
    assert all(a[1] == b[0] for a, b in zip(ranges, ranges[1:]))
    pieces = [_measure_piece(url, start, end) for start, end in ranges]
    assert all(isinstance(p, Piece) for p in pieces), pieces
    merged = functools.reduce(veltrane.MeasureState.merge, (p.state for p in pieces))
    for bits in (False, True):
        assert merged.finish(bits=bits) == veltrane.measure(data, bits=bits)
    expected = tuple(_engine.longest_run(data)) if data else None
    assert longest_run_of(pieces) == expected
    assert b"".join(p.head for p in pieces) == data[:8000]


def test_prefixes_walk_like_directories(memory_root, tmp_path, run_cli):
    names = ["b/2", "a", "b/1", "b/c/3", "c"]
    for i, name in enumerate(names):
        memory.pipe(f"{memory_root}/tree/{name}", bytes([i]) * (i + 1) * 100)
        (tmp_path / "tree" / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / "tree" / name).write_bytes(bytes([i]) * (i + 1) * 100)
    listed = walk_url(f"memory://{memory_root}/tree")
    assert [url for url, _ in listed] == [f"memory://{memory_root}/tree/{n}" for n in sorted(names)]
    assert [size for _, size in listed] == [(names.index(n) + 1) * 100 for n in sorted(names)]
    # The same tree by URL and on disk: the same records, in the same order, but for the names.
    by_url, on_disk = run_cli("scan", "--json", f"memory://{memory_root}/tree"), run_cli("scan", "--json",
                                                                                       tmp_path / "tree")
    assert by_url.returncode == on_disk.returncode == 0, by_url.stderr
    strip = [[{**r, "path": None} for r in map(json.loads, d.stdout.splitlines())] for d in (by_url, on_disk)]
    assert strip[0] == strip[1] and len(strip[0]) == len(names)
    # One object named directly, and one that is not there: one line for it, the other scanned.
    missing = f"memory://{memory_root}/tree/none"
    done = run_cli("scan", "--json", missing, f"memory://{memory_root}/tree/a")
    assert done.returncode == 1
    assert done.stderr == f"veltrane: {missing}: No such file or directory\n"
    assert [json.loads(line)["path"] for line in done.stdout.splitlines()] == [f"memory://{memory_root}/tree/a"]


def test_scan_reads_urls_as_files(memory_root, tmp_path):
    data = b"\x00header" + b"veltrane scans URLs " * 50 + bytes(300)
    memory.pipe(f"{memory_root}/f", data)
    (tmp_path / "f").write_bytes(data)
    for options in ({}, {"text": False, "fragments": 2, "bits": True}):
        by_url = veltrane.scan(veltrane.URL(f"memory://{memory_root}/f"), **options)
        assert by_url == veltrane.scan(data, **options) == veltrane.scan(tmp_path / "f", **options)


def test_ranges_that_are_not_all_there_fail(memory_root, tmp_path):
    memory.pipe(f"{memory_root}/short", b"0123456789")
    (tmp_path / "short").write_bytes(b"0123456789")
    for name in (f"memory://{memory_root}/short", str(tmp_path / "short")):
        with read_range(name, 2, 6) as piece:
            assert bytes(piece) == b"2345"
        with pytest.raises(OSError) as raised, read_range(name, 4, 16):
            pass
        assert "changed while being scanned" in describe_error(raised.value)
        assert isinstance(_measure_piece(name, 4, 16), str)


def test_without_the_cluster_extra_urls_and_schedulers_are_usage_errors(monkeypatch, tmp_path, run_cli):
    (tmp_path / "f").write_bytes(b"local files need nothing more")
    monkeypatch.setitem(sys.modules, "fsspec", None)  # what an interpreter without fsspec does on import
    monkeypatch.setitem(sys.modules, "fsspec.core", None)
    monkeypatch.setitem(sys.modules, "distributed", None)
    for args in (["memory://x/y"], ["--scheduler", "tcp://127.0.0.1:1", str(tmp_path / "f")]):
        done = run_cli("scan", *args)
        assert done.returncode == 2 and done.stdout == ""
        assert done.stderr.count("\n") == 1 and "pip install 'veltrane[cluster]'" in done.stderr, done.stderr
    assert run_cli("scan", tmp_path / "f").returncode == 0
