"""`veltrane sp800-22`: the report tree against NIST's program's, byte for byte; the table, JSON and refusals.

In compatible mode the tree `--report DIR` writes must be the one the program wrote for the recorded runs
(every file but time.txt, which holds the program's timing): each stats.txt with every intermediate
figure, results.txt and the data files with every p-value, freq.txt, and finalAnalysisReport.txt with
the second level.
"""
import filecmp
import io
import json
import pathlib
import shutil

import pytest

import veltrane
from test_sp800_22 import DATA, RUNS


def differing_files(ours, theirs):
    """The files of `theirs` (time.txt aside) that `ours` lacks or holds otherwise, and the ones it adds."""
    ours_files = {p.relative_to(ours) for p in ours.rglob("*") if p.is_file()}
    theirs_files = {p.relative_to(theirs) for p in theirs.rglob("*") if p.is_file()} - {pathlib.Path("time.txt")}
    changed = [f for f in sorted(theirs_files & ours_files) if not filecmp.cmp(ours / f, theirs / f, shallow=False)]
    return changed, sorted(theirs_files ^ ours_files)


@pytest.mark.parametrize("folder, data, bits, length", RUNS, ids=[r[0] for r in RUNS])
def test_the_report_tree_is_the_programs(folder, data, bits, length, tmp_path, run_cli, monkeypatch):
    shutil.copy(DATA / data, tmp_path / data)
    monkeypatch.chdir(tmp_path)  # the program names the file as it was given
    args = ["sp800-22", data, "--compatible", "--length", length, "--report", "tree", "-q"]
    done = run_cli(*args, *(["--ascii"] if bits == "ascii" else []), "--sequences", 10 if length == 100_000 else 1)
    assert done.returncode == 0, done.stderr
    assert differing_files(tmp_path / "tree", DATA / folder) == ([], [])


def test_the_default_report_differs_only_where_the_result_says(tmp_path, run_cli):
    done = run_cli("sp800-22", DATA / "data.e", "--ascii", "--report", tmp_path / "tree", "-q")
    assert done.returncode == 0, done.stderr
    changed, extra = differing_files(tmp_path / "tree", DATA / "sts-data.e")
    assert extra == []
    # The tests the default mode mends, the final report that shows them, and the header naming the file.
    assert {f.parts[0] for f in changed} == {"LongestRun", "OverlappingTemplate", "LinearComplexity",
                                            "finalAnalysisReport.txt", "freq.txt"}
    assert "where the figures differ from NIST's program:" in done.stdout


def test_the_table_and_the_json_carry_the_same_verdicts(run_cli):
    # Names of all three kinds, one test twice; in the program's order whatever the order given.
    args = ("sp800-22", DATA / "data.e", "--ascii", "--length", 100_000, "--tests",
            "serial,1,frequency,FFT,random_excursions", "-q")
    table = run_cli(*args)
    assert table.returncode == 0, table.stderr
    lines = table.stdout.splitlines()
    assert [line.split()[0] for line in lines[3:7]] == ["Frequency", "FFT", "RandomExcursions", "Serial"]
    assert lines[5].split()[2:] == ["not", "applicable", "to", "any", "sequence", "-"]
    document = json.loads(run_cli(*args[:-3], "--tests", "frequency,dft,serial,random_excursions", "--json",
                                  "-q").stdout)
    result = veltrane.sp800_22((DATA / "data.e").read_bytes(), bits="ascii", length=100_000,
                               tests=["frequency", "dft", "serial", "random_excursions"])
    assert document["sequence_count"] == len(document["sequences"]) == len(result.sequences) == 10
    assert document["sequences"][3]["serial"]["p_value2"] == result.sequences[3].serial.p_value2
    assert [s["passed"] for s in document["series"]] == [s.passed for s in result.series]
    assert document["passed"] == result.passed
    # Not applicable anywhere: every state's p-value is null.
    assert all(state["p_value"] is None for s in document["sequences"] for state in s["random_excursions"]["states"])


@pytest.mark.parametrize("args, status, message", [
    (["--tests", "frequency,dice"], 2, "unknown test 'dice'"),
    (["--set", "serial_block_length=30"], 2, "serial_block_length must be from 2 to 20, not 30"),
    (["--set", "block_length=3"], 2, "unknown parameter 'block_length'"),
    (["--length", "0"], 2, "must be 1 or more"),
    (["--tests", "universal", "--length", "100000"], 2, "universal needs sequences of at least 387840 bits"),
    (["--length", "2000000"], 1, "the data holds fewer than 2000000 bits"),
    (["--sequences", "3"], 1, "sequences: the data holds 1 sequences of 1000000 bits, not 3"),
])
def test_refusals_are_one_clear_line(args, status, message, run_cli):
    done = run_cli("sp800-22", DATA / "data.e", "--ascii", *args, "-q")
    assert done.returncode == status and message in done.stderr and "Traceback" not in done.stderr, done.stderr


def test_text_that_is_not_bits_is_refused_with_its_place(tmp_path, run_cli):
    (tmp_path / "bits.txt").write_text("0101 1100\n01x0\n")
    done = run_cli("sp800-22", tmp_path / "bits.txt", "--ascii", "--length", 8, "-q")
    assert done.returncode == 1 and "not 'x' (byte 12)" in done.stderr
    with pytest.raises(ValueError, match="not 'x' \\(byte 12\\)"):
        veltrane.sp800_22(b"0101 1100\n01x0\n", bits="ascii", length=8)


@pytest.mark.parametrize("bits, length", [("bytes", 1001), ("bytes", 4096), ("ascii", 999)])
def test_a_file_read_in_pieces_gives_the_figures_of_the_whole(bits, length, monkeypatch):
    # Pieces of 700 bytes: sequences straddle them, and start inside bytes.
    from veltrane import _sp800_22_stream
    from veltrane._sp800_22 import Run
    from veltrane._sp800_22_options import arguments_of
    monkeypatch.setattr(_sp800_22_stream, "READ_BYTES", 700)
    data = (DATA / "data.e").read_bytes()[:30_000] if bits == "ascii" else (DATA / "data.sha1").read_bytes()[:9000]
    run = Run(arguments_of(length, ["frequency", "runs", "serial", "dft"], bits, False, {}))
    whole = veltrane.sp800_22(data, length=length, bits=bits, tests=["frequency", "runs", "serial", "dft"])
    pieces = list(_sp800_22_stream.stream(run, io.BytesIO(data), None))
    assert tuple(pieces) == whole.sequences and len(pieces) > 5
    with pytest.raises(ValueError, match=f"holds {len(pieces)} sequences"):
        list(_sp800_22_stream.stream(run, io.BytesIO(data), len(pieces) + 1))


def test_standard_input_is_read_as_a_file_is(run_cli, monkeypatch):
    path = DATA / "data.sha1"
    from_file = json.loads(run_cli("sp800-22", path, "-n", 100_000, "--json", "-q").stdout)
    with path.open("rb") as handle:
        monkeypatch.setattr("sys.stdin", io.TextIOWrapper(handle))
        from_pipe = json.loads(run_cli("sp800-22", "-", "-n", 100_000, "--json", "-q").stdout)
    assert from_pipe.pop("path") == "<stdin>" and from_file.pop("path") == str(path)
    assert from_pipe == from_file and from_file["sequence_count"] == 10
