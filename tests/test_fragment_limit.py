"""The default --fragment-limit: set by the memory installed, the same in every run while free memory comes and goes."""
import json
import os

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from veltrane.cli import fragment_limit
from veltrane.cli.fragment_limit import MEMORY_SHARE, SEARCH_BYTES_PER_ELEMENT, SMALLEST_LIMIT, default_fragment_limit

KIB = 1 << 10
GIB = 1 << 30


def reference_limit(installed, processes):
    """Doubles the limit while twice it still fits every process's search in the share of `installed`."""
    limit = SMALLEST_LIMIT
    while 2 * limit * SEARCH_BYTES_PER_ELEMENT * processes * MEMORY_SHARE <= installed:
        limit *= 2
    return limit


@pytest.fixture
def meminfo(tmp_path, monkeypatch):
    """Writes a /proc/meminfo of the given figures (in KiB) for the limit to read."""
    path = tmp_path / "meminfo"
    monkeypatch.setattr(fragment_limit, "MEMINFO", str(path))

    def write(total, free, available):
        lines = [f"MemFree:        {free} kB", f"MemAvailable:   {available} kB", "Buffers:          123456 kB"]
        if total is not None:
            lines.insert(0, f"MemTotal:       {total} kB")
        path.write_text("".join(line + "\n" for line in lines))

    return write


@settings(max_examples=300, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(total=st.integers(0, 1 << 36), processes=st.integers(1, 64),
       free=st.lists(st.integers(0, 1 << 36), min_size=2, max_size=4))
def test_the_default_follows_installed_memory_not_free_memory(meminfo, total, processes, free):
    limits = set()
    for kib in free:
        meminfo(total, kib, min(kib, total) // 2 * 3 // 2)
        limits.add(default_fragment_limit(processes))
    assert limits == {reference_limit(total * KIB, processes)}
    (limit,) = limits
    assert limit & (limit - 1) == 0  # a power of two: prints as a short size


def test_without_memtotal_the_physical_pages_tell(meminfo, tmp_path, monkeypatch):
    physical = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES")
    meminfo(None, 1000, 1000)  # a meminfo that lacks the line
    assert default_fragment_limit(3) == reference_limit(physical, 3)
    monkeypatch.setattr(fragment_limit, "MEMINFO", str(tmp_path / "absent"))  # no /proc at all
    assert default_fragment_limit(3) == reference_limit(physical, 3)


def test_a_skipped_search_prints_the_same_reason_in_every_run(meminfo, run_cli, tmp_path):
    # 3 GiB installed: 3G / 2 / 40 bytes = 38.4M for one process, 32M once rounded.
    big = tmp_path / "big.bin"
    with open(big, "wb") as handle:
        handle.truncate((32 << 20) + 1)
    runs = []
    for available in (GIB // KIB, 2 * GIB // KIB, 3 * GIB // KIB - 1):
        meminfo(3 * GIB // KIB, available // 2, available)
        runs.append((run_cli("scan", "--json", big), run_cli("scan", big)))
    record = json.loads(runs[0][0].stdout)
    assert record["repeats_skipped"] == "larger than --fragment-limit (32M)"
    assert "repeats not searched: larger than --fragment-limit (32M)" in runs[0][1].stdout
    assert all((j.stdout, t.stdout, j.returncode, t.returncode) == (runs[0][0].stdout, runs[0][1].stdout, 0, 0)
               for j, t in runs)
