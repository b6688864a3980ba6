"""`veltrane ent` and the first columns of `scan --csv` against Debian's `ent` itself, byte for byte.

The test command installs ent; without it (a machine set up by hand) these skip.
"""
import itertools
import os
import random
import shutil
import subprocess
import sys

import pytest

from veltrane.cli import main

ENT = shutil.which("ent")
pytestmark = pytest.mark.skipif(ENT is None, reason="Debian's ent is not installed")

OPTION_SETS = ["".join(flags) for r in range(5) for flags in itertools.combinations("bcft", r)]


def corpus(folder):
    """Real files and made ones: binaries, text, random, zeros, 1 to 13 bytes, empty, Latin-1, flat, alternating."""
    rng = random.Random(11)
    made = {
        "random.bin": rng.randbytes(100_003),
        "zeros.bin": bytes(65_536),
        "empty": b"",
        "latin1.txt": "Ça Déjà ÀÉÎÕÜ ×÷ þÞ ßÿ — naïve".encode("latin-1", "replace") * 40,
        "flat.bin": bytes(range(256)) * 16,
        "alternating.bin": b"\x00\xff" * 5000,
        "one-value.bin": b"A" * 999,
    }
    for n in range(1, 14):
        made[f"short{n:02}.bin"] = rng.randbytes(n)
    paths = []
    for name, content in made.items():
        path = folder / name
        path.write_bytes(content)
        paths.append(str(path))
    real = [sys.executable, "/usr/bin/ls", "/etc/services", os.path.join(os.path.dirname(__file__), "..", "README.md")]
    return paths + [os.path.realpath(p) for p in real if os.path.exists(p)]


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    return corpus(tmp_path_factory.mktemp("ent-corpus"))


def ent(flags, path):
    done = subprocess.run([ENT, *([f"-{flags}"] if flags else []), path], capture_output=True, timeout=120)
    assert done.returncode == 0, done.stderr
    return done.stdout


def ours(capsysbinary, *args):
    capsysbinary.readouterr()
    code = main([str(a) for a in args])
    out, err = capsysbinary.readouterr()
    assert code == 0, err
    return out


@pytest.mark.parametrize("flags", OPTION_SETS, ids=lambda f: f"-{f}" if f else "none")
def test_every_option_set_prints_what_ent_prints(capsysbinary, files, flags):
    for path in files:
        assert ours(capsysbinary, "ent", *([f"-{flags}"] if flags else []), path) == ent(flags, path), path


def test_flags_combine_and_ignore_case_and_standard_input_is_read(capsysbinary, files, monkeypatch):
    path = files[0]
    assert ours(capsysbinary, "ent", "-B", "-c", "-T", path) == ent("bct", path)
    with open(path, "rb") as handle:
        piped = subprocess.run([sys.executable, "-m", "veltrane", "ent", "-t"], stdin=handle, capture_output=True,
                               timeout=120, env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    assert piped.stdout == ent("t", path)


def test_several_files_in_one_run(capsysbinary, files):
    pair = files[:2]
    text = ours(capsysbinary, "ent", *pair)
    assert text == b"\n".join(b"==> %s <==\n" % p.encode() + ent("", p) for p in pair)
    terse = ours(capsysbinary, "ent", "-t", *pair).decode().splitlines()
    assert terse[0] == ent("t", pair[0]).decode().splitlines()[0] + ",File"
    assert terse[1:] == [ent("t", p).decode().splitlines()[1] + "," + p for p in pair]


def test_scan_csv_begins_with_ents_terse_row(capsysbinary, files):
    for bits in (False, True):
        rows = ours(capsysbinary, "scan", "--csv", *(["--bits"] if bits else []), *files).decode().splitlines()
        header = ent("bt" if bits else "t", files[0]).decode().splitlines()[0]
        assert rows[0].startswith(header + ",")
        for path, row in zip(files, rows[1:]):
            terse_row = ent("bt" if bits else "t", path).decode().splitlines()[1]
            assert row.startswith(terse_row + ","), path
