"""The `veltrane` command line on files made here.

Outputs and exit codes are checked in this process through `main(argv)`; child
processes are kept for what only a real process shows: Ctrl-C, a broken pipe,
standard input and the installed console script.
"""
import csv
import dataclasses
import io
import math
import json
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import zlib

import pytest

import _veltrane
import veltrane
from _veltrane import min_entropy, shannon_entropy, strings_frag
from veltrane.cli import main
from veltrane.cli.runner import THREADS_VARIABLE, threads_per_worker

from children import WAIT_SECONDS, bounded_child

SCAN_KEYS = ({"path", "unit", "binary", "longest_run", "repeats", "repeats_skipped"}
             | {f.name for f in dataclasses.fields(veltrane.Measures)})
REPEATS_KEYS = {"lengths", "counts", "scores", "firsts", "starts", "truncated", "previews", "left_out"}
CSV_HEADER = ("0,File-bytes,Entropy,Chi-square,Mean,Monte-Carlo-Pi,Serial-Correlation,"
              "Metric-entropy,Normalized-entropy,Min-entropy,Min-entropy-MCV,Chi-square-p,File")


def child_env(extra_path=None):
    """The environment of this interpreter, with the package and the native module importable."""
    env = dict(os.environ)
    paths = [os.path.dirname(os.path.dirname(veltrane.__file__)), os.path.dirname(_veltrane.__file__)]
    if extra_path:
        paths.insert(0, extra_path)
    env["PYTHONPATH"] = os.pathsep.join(paths + [env.get("PYTHONPATH", "")])
    env.pop("COLUMNS", None)
    return env


def cli(*args, stdin=None, env=None, timeout=300):
    return subprocess.run(
        [sys.executable, "-m", "veltrane", *map(str, args)],
        input=stdin,
        capture_output=True,
        env=env or child_env(),
        timeout=timeout,
    )


def text_of(done):
    return done.stdout.decode("utf-8"), done.stderr.decode("utf-8")


@pytest.fixture
def run(run_cli):
    """Runs `veltrane ARGS...` in this process (conftest's run_cli); returns its exit status and text."""
    return run_cli


def assert_no_traceback(stderr):
    assert "Traceback" not in stderr
    assert "Error:" not in stderr or stderr.startswith("veltrane:"), stderr


def json_lines(stdout):
    return [json.loads(line) for line in stdout.splitlines()]


ENGLISH = (
    b"It is a truth universally acknowledged, that a single man in possession of a good fortune, "
    b"must be in want of a wife. However little known the feelings or views of such a man may be "
    b"on his first entering a neighbourhood, this truth is so well fixed in the minds of the "
    b"surrounding families, that he is considered the rightful property of some one or other.\n"
)


@pytest.fixture
def samples(tmp_path):
    """A few small files of known character, in a directory with a subdirectory."""
    rng = random.Random(6)
    root = tmp_path / "samples"
    (root / "sub").mkdir(parents=True)
    files = {
        "text.txt": ENGLISH * 3,
        "random.bin": rng.randbytes(3000),
        "sub/zeros.bin": bytes(2048),
        "sub/repeat.bin": b"\x00\xffmagic\\\n" * 7 + b"tail",
        "empty": b"",
    }
    for name, content in files.items():
        (root / name).write_bytes(content)
    return root, {str(root / name): content for name, content in files.items()}


def module_record(content):
    return {
        "size": len(content),
        "shannon_entropy": shannon_entropy.measure_entropy(content),
        "metric_entropy": shannon_entropy.measure_metric_entropy(content),
        "normalized_entropy": shannon_entropy.measure_normalized_metric_entropy(content),
        "min_entropy": min_entropy.measure_entropy(content),
    }


def is_binary(content):
    return b"\0" in content[:8000]


def cli_repeats(content, top=5, min_count=2, **options):
    """What the command line searches: binary inputs must carry a bit per byte."""
    return veltrane.repeats(content, top=top, min_count=min_count, max_starts=1000,
                            min_entropy=1.0 if is_binary(content) else None, **options)


def hex_model(data):
    return " ".join("%02x" % b for b in data)


def escape_model(data):
    """Reference escaping for byte previews: printable ASCII as is, the rest as \\xNN, backslash doubled."""
    out = []
    for byte in data:
        if byte == 0x5C:
            out.append("\\\\")
        elif 0x20 <= byte < 0x7F:
            out.append(chr(byte))
        else:
            out.append("\\x%02x" % byte)
    return "".join(out)


# ----------------------------------------------------------------------------- scan: JSON Lines


@pytest.mark.parametrize("overlap", [False, True])
def test_json_lines_carry_every_number_the_module_returns(run, samples, overlap):
    root, files = samples
    flags = ["--overlap"] if overlap else []
    done = run("scan", "--json", "--fragments", 4, "--times", 3, *flags, root)
    out, err = done.stdout, done.stderr
    assert done.returncode == 0, err
    assert err == ""  # no progress bar and no chatter when standard error is not a terminal
    records = json_lines(out)
    # Directories are walked recursively in name order, each file once.
    assert [r["path"] for r in records] == sorted(files, key=lambda p: os.path.relpath(p, root).split(os.sep))
    for record in records:
        content = files[record["path"]]
        assert set(record) == SCAN_KEYS
        assert record["unit"] == "bytes" and record["repeats_skipped"] is None
        for key, value in module_record(content).items():
            assert record[key] == value, key  # exactly: JSON keeps every digit of a float
        # Every figure of the engine, undefined ones as null.
        figures = veltrane.measure(content)
        for field in dataclasses.fields(figures):
            value = getattr(figures, field.name)
            if isinstance(value, float):
                assert record[field.name] == (None if math.isnan(value) else value), field.name
        assert record["histogram"] == list(figures.histogram)
        # The repeats' columns, and a preview of each: escaped text, or hex for a binary input.
        assert record["binary"] == is_binary(content)
        found = cli_repeats(content, top=4, min_count=3, non_overlap=not overlap)
        shown = record["repeats"]
        assert set(shown) == REPEATS_KEYS
        assert (shown["lengths"], shown["counts"], shown["firsts"]) == (
            list(found.lengths), list(found.counts), list(found.firsts))
        assert shown["starts"] == [list(r.starts) for r in found]
        assert shown["left_out"] == dataclasses.asdict(found.left_out)
        for r, preview in zip(found, shown["previews"]):
            piece = content[r.first : r.first + r.length]
            if record["binary"]:
                assert preview == hex_model(piece[:16]) + (" …" if r.length > 16 else "")
            else:
                assert preview == escape_model(piece[:48]) + ("…" if r.length > 48 else "")
        run_ = record["longest_run"]
        if record["binary"]:
            value, start, length = run_["value"], run_["start"], run_["length"]
            assert content[start : start + length] == bytes([value]) * length
            assert bytes([value]) * (length + 1) not in content
        else:
            assert run_ is None


def test_fragments_zero_skips_the_search_and_text_searches_code_points(run, tmp_path):
    text = "naïve café — naïve café, 文字文字 🙂🙂\n"
    path = tmp_path / "utf8.txt"
    path.write_text(text, encoding="utf-8")
    skipped = json_lines(run("scan", "--json", "--fragments", 0, path).stdout)
    assert skipped[0]["repeats"] is None and skipped[0]["repeats_skipped"] is None  # not asked for
    assert skipped[0]["size"] == len(text.encode("utf-8"))
    # Too large for the search: the output says so, in JSON and in the table.
    over_limit = json_lines(run("scan", "--json", "--fragment-limit", 16, path).stdout)
    assert over_limit[0]["repeats"] is None
    assert over_limit[0]["repeats_skipped"] == "larger than --fragment-limit (16)"
    assert over_limit[0]["shannon_entropy"] == skipped[0]["shannon_entropy"]
    table = run("scan", "--fragment-limit", "1K", path, path).stdout.splitlines()
    assert table.count(" " * 14 + "repeats not searched: larger than --fragment-limit (1K)") == 0
    assert run("scan", "--fragment-limit", 48, path).stdout.splitlines()[2].split(": ", 1) == [
        " " * 14 + "repeats not searched", "larger than --fragment-limit (48)"]

    record = json_lines(run("scan", "--json", "--text", "--fragments", 6, path).stdout)[0]
    assert record["unit"] == "code points"
    # Measured over the bytes, searched in code points.
    assert record["shannon_entropy"] == shannon_entropy.measure_entropy(text.encode("utf-8"))
    found = veltrane.repeats(text, top=6)
    assert record["repeats"]["starts"] == [list(r.starts) for r in found]
    for r, preview in zip(found, record["repeats"]["previews"]):
        assert preview.replace("\\n", "\n").rstrip("…") == text[r.first : r.first + min(r.length, 48)]


def test_jobs_give_the_same_lines_in_the_same_order(run, samples):
    root, _ = samples
    one = run("scan", "--json", root)
    two = run("scan", "--json", "--jobs", 2, root)
    assert one.returncode == two.returncode == 0, two.stderr
    assert two.stdout == one.stdout


def test_standard_input_is_an_input_like_any_other(samples):
    root, files = samples
    content = files[str(root / "text.txt")]
    done = cli("scan", "--json", "-", root / "sub" / "zeros.bin", stdin=content)
    assert done.returncode == 0
    first, second = json_lines(done.stdout.decode())
    assert first["path"] == "-"
    assert first["shannon_entropy"] == shannon_entropy.measure_entropy(content)
    assert first["repeats"]["starts"] == [list(r.starts) for r in cli_repeats(content)]
    assert second["size"] == 2048 and second["shannon_entropy"] == 0.0
    # Standard input redirected from a file is mapped like a file: same numbers.
    with open(root / "text.txt", "rb") as handle:
        redirected = subprocess.run([sys.executable, "-m", "veltrane", "scan", "--json", "-"], stdin=handle,
                                    capture_output=True, env=child_env(), timeout=120)
    assert json_lines(redirected.stdout.decode()) == [first]


def test_jobs_share_the_cpus_among_the_workers_native_pools(monkeypatch):
    # Each worker process starts its own native pool: sized to its share, `--jobs N`
    # uses about every CPU once instead of N times.
    monkeypatch.delenv(THREADS_VARIABLE, raising=False)
    cpus = len(os.sched_getaffinity(0))
    assert [threads_per_worker(jobs) for jobs in (1, 2, cpus, 4 * cpus)] == [cpus, max(1, cpus // 2), 1, 1]
    monkeypatch.setenv(THREADS_VARIABLE, "5")
    assert threads_per_worker(2) is None  # the user's own setting stands


def test_format_measure_drops_the_sign_of_negative_zero_only():
    assert [veltrane.format_measure(v) for v in (-0.0, 0.0, 7.99981, -1e-9)] == ["0.0000", "0.0000", "7.9998",
                                                                                "-0.0000"]
    assert veltrane.format_measure(1 / 3, 2) == "0.33"


# ----------------------------------------------------------------------------- scan: table and CSV


def test_table_lists_each_input_with_its_measures_and_fragments(run, samples):
    root, files = samples
    repeat = root / "sub" / "repeat.bin"
    done = run("scan", "--fragments", 2, root / "random.bin", repeat)
    out, err = done.stdout, done.stderr
    assert done.returncode == 0, err
    lines = out.splitlines()
    assert lines[0].split() == ["SIZE", "SHANNON", "METRIC", "NORMAL", "MIN-ENT", "CHI2-P", "SERIAL", "INPUT"]
    rows = [line.split() for line in lines if line.rstrip().endswith((".bin",))]
    assert [row[-1] for row in rows] == [str(root / "random.bin"), str(repeat)]
    for row in rows:
        content = files[row[-1]]
        assert int(row[0]) == len(content)
        assert [float(x) for x in row[1:5]] == pytest.approx(
            [shannon_entropy.measure_entropy(content), shannon_entropy.measure_metric_entropy(content),
             shannon_entropy.measure_normalized_metric_entropy(content), min_entropy.measure_entropy(content)],
            abs=5e-5)
        figures = veltrane.measure(content)
        assert row[5] == ("<0.0001" if figures.chi_square_p < 1e-4 else f"{figures.chi_square_p:.4f}")
        assert float(row[6]) == pytest.approx(figures.serial_correlation, abs=5e-5)
    # The numeric columns line up: every value row ends its columns at the same places.
    value_rows = [line for line in lines[1:] if line.rstrip().endswith(".bin")]
    assert len({line.index(row[-1]) for line, row in zip(value_rows, rows)}) == 1
    # The top repeat of the repeated file is its 9-byte unit, seven times, in hex (the file is
    # binary), with what storing it once saves, its first offsets and how many more there are.
    (top,) = cli_repeats(files[str(repeat)], top=1)
    assert (top.length, top.count) == (9, 7)
    assert any(line.split()[:6] == ["1", "7", "x", "9", "B", "54"] and "00 ff 6d 61 67 69 63 5c 0a" in line
               and line.endswith("0, 9, 18 +4 more") for line in lines)


def test_csv_keeps_the_terse_layout_first_columns(run, tmp_path):
    odd = tmp_path / 'a, "quoted" name.bin'
    odd.write_bytes(bytes(range(256)) * 4)
    plain = tmp_path / "plain.txt"
    plain.write_bytes(ENGLISH)
    done = run("scan", "--csv", odd, plain)
    out, err = done.stdout, done.stderr
    assert done.returncode == 0, err
    lines = out.splitlines()
    assert lines[0] == CSV_HEADER
    rows = list(csv.reader(io.StringIO("\n".join(lines[1:]))))
    assert [row[0] for row in rows] == ["1", "1"]
    for row, path in zip(rows, (odd, plain)):
        content = path.read_bytes()
        assert len(row) == len(CSV_HEADER.split(","))
        assert int(row[1]) == len(content)
        # ent's columns as ent prints them (tests/test_ent.py compares them with ent itself) ...
        figures = veltrane.measure(content)
        assert row[2:7] == ["%f" % v for v in (figures.ent.entropy, figures.chi_square, figures.mean,
                                              figures.monte_carlo_pi, figures.serial_correlation)]
        # ... then ours with every digit, the name last.
        assert float(row[7]) == shannon_entropy.measure_metric_entropy(content)
        assert float(row[8]) == shannon_entropy.measure_normalized_metric_entropy(content)
        assert float(row[9]) == min_entropy.measure_entropy(content)
        assert float(row[10]) == figures.min_entropy_mcv and float(row[11]) == figures.chi_square_p
        assert row[12] == str(path)
    assert rows[0][2] == "8.000000"


# ----------------------------------------------------------------------------- scan: errors and exit codes


def test_failed_inputs_are_named_once_and_the_rest_still_scanned(run, samples, tmp_path):
    root, _ = samples
    good = root / "text.txt"
    missing = tmp_path / "missing.bin"
    not_a_dir = good / "child"  # a path through a regular file
    tree = tmp_path / "tree"
    (tree / "a" / "b").mkdir(parents=True)
    (tree / "a" / "b" / "data.bin").write_bytes(b"data" * 10)
    os.symlink(tree / "a", tree / "a" / "b" / "up")  # leads back to an ancestor
    os.symlink(tmp_path / "nowhere", tree / "dangling")
    done = run("scan", "--json", missing, good, not_a_dir, tree)
    out, err = done.stdout, done.stderr
    assert done.returncode == 1
    assert_no_traceback(err)
    messages = err.splitlines()
    assert messages == [
        f"veltrane: {missing}: No such file or directory",
        f"veltrane: {not_a_dir}: Not a directory",
        f"veltrane: {tree / 'a' / 'b' / 'up'}: directory loop (leads back to {tree / 'a'}); not entered",
        f"veltrane: {tree / 'dangling'}: No such file or directory",
    ]
    assert [r["path"] for r in json_lines(out)] == [str(good), str(tree / "a" / "b" / "data.bin")]


def test_invalid_utf8_under_text_fails_that_input_only(run, tmp_path):
    bad = tmp_path / "latin1.txt"
    bad.write_bytes("café".encode("latin-1"))
    good = tmp_path / "ok.txt"
    good.write_bytes("café café".encode("utf-8"))
    done = run("scan", "--text", "--json", bad, good)
    out, err = done.stdout, done.stderr
    assert done.returncode == 1
    assert err.splitlines() == [f"veltrane: {bad}: not valid UTF-8 (byte 3); scan it without --text"]
    assert [r["path"] for r in json_lines(out)] == [str(good)]


@pytest.mark.skipif(hasattr(os, "geteuid") and os.geteuid() == 0, reason="root reads any file")
def test_unreadable_file_is_reported(run, tmp_path):
    locked = tmp_path / "locked"
    locked.write_bytes(b"secret")
    locked.chmod(0)
    done = run("scan", locked)
    assert done.returncode == 1
    assert done.stderr == f"veltrane: {locked}: Permission denied\n"


@pytest.mark.parametrize(
    "args, fragment",
    [
        (["scan"], "the following arguments are required: PATH"),
        (["scan", "--fragments", "-1", "x"], "must be 0 or more"),
        (["scan", "--times", "0", "x"], "must be 1 or more"),
        (["scan", "--json", "--csv", "x"], "not allowed with argument"),
        (["scan", "--jobs", "many", "x"], "not a whole number"),
        (["scan", "-", "-"], "standard input (-) can be given only once"),
        (["frobnicate"], "invalid choice"),
        ([], "the following arguments are required: COMMAND"),
        (["profile", "x"], "the following arguments are required: --window"),
        (["profile", "x", "--window", "0"], "must be positive"),
        (["profile", "x", "--window", "4Q"], "not a size"),
        (["profile", "x", "--window", "64", "--high", "0.5", "--low", "0.7"], "must not exceed"),
        (["profile", "x", "--window", "64", "--high", "2"], "must lie between 0 and 1"),
    ],
)
def test_usage_errors_exit_2_with_one_message(run, args, fragment):
    done = run(*args)
    out, err = done.stdout, done.stderr
    assert done.returncode == 2
    assert out == ""
    assert_no_traceback(err)
    (message,) = [line for line in err.splitlines() if line.startswith("veltrane: ")]
    assert fragment in message


def test_broken_pipe_is_one_line_and_exit_1(tmp_path):
    paths = []
    for i in range(200):
        path = tmp_path / f"f{i:03}.bin"
        path.write_bytes(bytes([i]) * 64)
        paths.append(str(path))
    with bounded_child([sys.executable, "-m", "veltrane", "scan", "--csv", *paths],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=child_env()) as child:
        child.stdout.readline()
        child.stdout.close()  # the reader goes away, like `| head -1`
        err = child.stderr.read().decode()
        assert child.wait(timeout=WAIT_SECONDS) == 1
    assert_no_traceback(err)
    lines = err.splitlines()
    assert len(lines) == 1
    assert lines[0].startswith("veltrane: output closed (broken pipe) while writing the result of ")
    assert lines[0].split("result of ")[1].split(";")[0] in paths


def wait_until_reading_stdin(pid, attempts=6000):
    """Waits until the process sits in read(0, ...): the kernel shows it in /proc/PID/syscall."""
    import time

    for _ in range(attempts):
        with open(f"/proc/{pid}/syscall") as handle:
            fields = handle.read().split()
        if fields[:2] == ["0", "0x0"]:
            return
        time.sleep(0.01)
    raise AssertionError("the child never read its standard input")


@pytest.mark.skipif(not os.path.exists("/proc/self/syscall"), reason="needs /proc/PID/syscall")
def test_ctrl_c_stops_with_one_line_naming_the_input(tmp_path):
    first = tmp_path / "first.txt"
    first.write_bytes(ENGLISH)
    with bounded_child([sys.executable, "-m", "veltrane", "scan", "--json", first, "-"],
                       stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=child_env()) as child:
        # Once the first result is out the child goes on to read standard input, which stays open.
        assert json.loads(child.stdout.readline())["path"] == str(first)
        wait_until_reading_stdin(child.pid)
        child.send_signal(signal.SIGINT)
        err = child.stderr.read().decode()
        code = child.wait(timeout=WAIT_SECONDS)
    assert code == 130
    assert err == "veltrane: interrupted while scanning <stdin>\n"


# ----------------------------------------------------------------------------- profile


def layered_file(path, text_size, random_size, zero_size):
    """Text, then random bytes, then zeros: two boundaries whose places are known."""
    text = (ENGLISH * (text_size // len(ENGLISH) + 1))[:text_size]
    path.write_bytes(text + random.Random(7).randbytes(random_size) + bytes(zero_size))
    return text_size, text_size + random_size


@pytest.mark.parametrize("window, step", [(4096, None), (4096, 1024), (1000, 300), (512, 512)])
def test_profile_edges_fall_at_the_boundaries_within_one_window(run, tmp_path, window, step):
    path = tmp_path / "layers.bin"
    rise, fall = layered_file(path, 50_000, 60_001, 30_000)
    # Windows under a few KiB need the normalised measure: random bytes stay far below 8 bits there.
    measure = ["--measure", "normalized"] if window < 4096 else []
    steps = ["--step", step] if step else []
    done = run("profile", path, "--window", window, *steps, *measure, "--json")
    assert done.returncode == 0, done.stderr
    (record,) = json_lines(done.stdout)
    edges = [(e["direction"], e["offset"]) for e in record["edges"]]
    assert [d for d, _ in edges] == ["rising", "falling"]
    assert abs(edges[0][1] - rise) <= window
    assert abs(edges[1][1] - fall) <= window
    assert record["regions"] == [{"start": edges[0][1], "end": edges[1][1]}]
    assert record["size"] == fall + 30_000
    # Every value is the module's measure of its window.
    function = (shannon_entropy.measure_normalized_metric_entropy if measure
                else shannon_entropy.measure_metric_entropy)
    content = path.read_bytes()
    for offset, value in list(zip(record["offsets"], record["values"]))[:: max(1, len(record["offsets"]) // 40)]:
        assert value == function(content[offset : offset + window])
    assert record["offsets"][-1] + window == record["size"]

    table = run("profile", path, "--window", window, *steps, *measure)
    out = table.stdout
    assert table.returncode == 0
    for direction, offset in edges:
        assert any(line.split()[:2] == [direction, str(offset)] for line in out.splitlines())
    assert f"high-entropy region {edges[0][1]}..{edges[1][1]}" in out


def test_profile_csv_and_standard_input(tmp_path):
    path = tmp_path / "layers.bin"
    layered_file(path, 10_000, 10_000, 5_000)
    content = path.read_bytes()
    done = cli("profile", "-", "--window", "2K", "--csv", stdin=content)
    assert done.returncode == 0, done.stderr
    rows = list(csv.reader(io.StringIO(done.stdout.decode())))
    assert rows[0] == ["offset", "end", "value"]
    assert [int(r[0]) for r in rows[1:]] == list(range(0, 24_576 - 2048 + 1, 2048)) + [25_000 - 2048]
    assert all(float(r[2]) == shannon_entropy.measure_metric_entropy(content[int(r[0]) : int(r[1])]) for r in rows[1:])


def test_profile_of_a_missing_file_exits_1(run, tmp_path):
    done = run("profile", tmp_path / "absent", "--window", 64)
    assert done.returncode == 1
    assert done.stderr == f"veltrane: {tmp_path / 'absent'}: No such file or directory\n"


def png_size(data):
    """Width and height of a PNG, after checking its signature and the CRC of every chunk."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    position, chunks = 8, []
    while position < len(data):
        (length,) = struct.unpack(">I", data[position : position + 4])
        kind = data[position + 4 : position + 8]
        body = data[position + 8 : position + 8 + length]
        (crc,) = struct.unpack(">I", data[position + 8 + length : position + 12 + length])
        assert zlib.crc32(kind + body) == crc
        chunks.append(kind)
        position += 12 + length
    assert chunks[0] == b"IHDR" and chunks[-1] == b"IEND" and b"IDAT" in chunks
    return struct.unpack(">II", data[16:24])


def test_profile_plot_is_a_png(run, tmp_path):
    pytest.importorskip("matplotlib")
    path = tmp_path / "layers.bin"
    layered_file(path, 20_000, 20_000, 10_000)
    target = tmp_path / "profile.png"
    done = run("profile", path, "--window", "4K", "--plot", target)
    assert done.returncode == 0, done.stderr
    width, height = png_size(target.read_bytes())
    assert width > 200 and height > 100
    unwritable = tmp_path / "no such folder" / "profile.png"
    failed = run("profile", path, "--window", "4K", "--plot", unwritable)
    assert failed.returncode == 1
    assert failed.stderr == f"veltrane: {unwritable}: No such file or directory\n"


def test_plot_without_matplotlib_says_how_to_get_it(tmp_path):
    # A stand-in that fails to import, like a missing package.
    blocker = tmp_path / "blocker" / "matplotlib"
    blocker.mkdir(parents=True)
    (blocker / "__init__.py").write_text("raise ImportError('No module named matplotlib')\n")
    path = tmp_path / "small.bin"
    path.write_bytes(bytes(100))
    done = cli("profile", path, "--window", 10, "--plot", tmp_path / "x.png",
               env=child_env(str(tmp_path / "blocker")))
    assert done.returncode == 2
    assert done.stderr.decode() == (
        "veltrane: --plot needs matplotlib, which is not installed: pip install 'veltrane[plot]'\n"
    )
    assert not (tmp_path / "x.png").exists()


# ----------------------------------------------------------------------------- the installed command


def test_console_script_runs_the_same_command(samples):
    script = shutil.which("veltrane", path=os.path.dirname(sys.executable))
    if script is None:
        pytest.skip("the package is not installed with its console script here")
    root, files = samples
    done = subprocess.run([script, "scan", "--json", root / "text.txt"], capture_output=True, env=child_env(),
                          timeout=120)
    assert done.returncode == 0, done.stderr
    assert json_lines(done.stdout.decode()) == json_lines(cli("scan", "--json", root / "text.txt").stdout.decode())
    helped = subprocess.run([script, "scan", "--help"], capture_output=True, env=child_env(), timeout=120)
    assert helped.returncode == 0
    help_text = helped.stdout.decode()
    assert CSV_HEADER in help_text and "130" in help_text
