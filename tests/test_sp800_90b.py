"""veltrane.sp800_90b and `veltrane sp800-90b`: NIST's recorded assessments, line by line, and the API's contract.

The recorded outputs of NIST's reference tool (tests/data/sp800_90b) are matched
through the whole chain: engine, dataclasses and the verbose renderer, label for
label in the tool's order, every figure to 1e-10 relative (the tool's own
tolerance). The core tests check each estimator against brute-force models.
"""
import array
import dataclasses
import json
import math
import pathlib
import random
import threading

import numpy
import pytest

import veltrane
from veltrane.cli import main
from veltrane.cli.render_sp800 import verbose

DATA = pathlib.Path(__file__).parent / "data" / "sp800_90b"
VECTORS = ["rand1_short", "rand4_short", "rand8_short", "truerand_1bit", "biased-random-bytes", "normal"]


def split_line(line):
    """A verbose line as (label, figure or None): "LABEL = 0.5", "H_original: 0.5", or words only."""
    for separator in (" = ", ": "):
        label, found, value = line.rpartition(separator)
        if found:
            try:
                return label, float(value)
            except ValueError:
                pass
    return line, None


def figures_agree(ours, theirs):
    """Same label, and figures equal or within 1e-10 relative."""
    (label, got), (expected_label, expected) = split_line(ours), split_line(theirs)
    if label != expected_label or (got is None) != (expected is None):
        return False
    return got is None or got == expected or abs(got - expected) <= 1e-10 * abs(expected)


@pytest.mark.parametrize("name", VECTORS)
def test_the_recorded_assessments_agree_line_by_line(name):
    recorded = (DATA / f"{name}.res").read_text().splitlines()
    ours = verbose("x", veltrane.sp800_90b((DATA / f"{name}.bin").read_bytes())).splitlines()
    # The first line names the file as it was opened.
    assert len(ours) == len(recorded)
    mismatched = [(o, r) for o, r in zip(ours[1:], recorded[1:]) if not figures_agree(o, r)]
    assert mismatched == []


def some_samples(seed, n, width, bias=0.0):
    rng = random.Random(seed)
    top = (1 << width) - 1
    return bytes(0 if rng.random() < bias else rng.randint(0, top) for _ in range(n))


def estimates(track):
    """Every estimate of a track that ran, whatever its kind."""
    found = []
    for f in dataclasses.fields(track):
        value = getattr(track, f.name)
        if dataclasses.is_dataclass(value):
            found.append(value.min_entropy)
    return found


@pytest.mark.parametrize("width", [1, 2, 4, 8])
def test_the_overall_figure_combines_the_tracks_as_the_standard_says(width):
    a = veltrane.sp800_90b(some_samples(width, 3000, width, bias=0.3))
    assert a.width == width and a.samples == 3000
    assert a.literal.min_entropy == min(estimates(a.literal))
    assert a.h_original == a.literal.min_entropy
    if width == 1:
        assert a.bitstring is None and a.h_bitstring is None and a.min_entropy == a.h_original
        assert a.literal.collision is not None and a.literal.markov is not None
    else:
        assert a.bitstring.min_entropy == min(estimates(a.bitstring)) == a.h_bitstring
        assert a.min_entropy == min(a.h_original, width * a.h_bitstring)
        # Collision, Markov and compression are defined for binary data only.
        assert (a.literal.collision, a.literal.markov, a.literal.compression) == (None, None, None)
        assert a.bitstring.compression is not None
    assert 0.0 <= a.min_entropy <= width


def test_a_declared_width_assesses_the_wider_bitstring():
    samples = some_samples(5, 2000, 3)
    inferred = veltrane.sp800_90b(samples)
    declared = veltrane.sp800_90b(samples, bits_per_symbol=8)
    assert (inferred.width, declared.width) == (3, 8)
    # The literal track does not depend on the declared width; the bitstring does.
    assert declared.literal == inferred.literal
    assert declared.bitstring.most_common_value.mode_count >= 5 * 2000
    assert declared.min_entropy == min(declared.h_original, 8 * declared.h_bitstring)


def test_renumbering_the_values_leaves_the_literal_track_alone():
    samples = some_samples(9, 2500, 4)
    shifted = bytes(3 * s + 7 for s in samples)  # same order, other values, gaps between them
    plain, moved = veltrane.sp800_90b(samples), veltrane.sp800_90b(shifted)
    assert not plain.translated and moved.translated
    assert moved.distinct == plain.distinct and moved.literal == plain.literal


def test_every_buffer_is_read_as_its_bytes():
    samples = some_samples(11, 4000, 8)
    expected = veltrane.sp800_90b(samples)
    for data in (bytearray(samples), memoryview(samples), array.array("B", samples),
                 numpy.frombuffer(samples, dtype=numpy.uint8), numpy.frombuffer(samples, dtype=numpy.uint16),
                 memoryview(bytes(b for s in samples for b in (s, 255)))[::2]):
        assert veltrane.sp800_90b(data) == expected


@pytest.mark.parametrize("n", [1, 2, 3, 17, 64, 200])
@pytest.mark.parametrize("kind", ["constant", "alternating", "random"])
def test_short_and_degenerate_inputs_give_figures(n, kind):
    data = {"constant": bytes(n), "alternating": bytes(i % 2 for i in range(n)),
            "random": some_samples(n, n, 8)}[kind]
    a = veltrane.sp800_90b(data)
    assert a.samples == n
    assert 0.0 <= a.min_entropy <= a.width
    assert all(not math.isnan(e) for e in estimates(a.literal))


@pytest.mark.parametrize(("call", "kind", "message"), [
    (lambda: veltrane.sp800_90b(b""), ValueError, "no samples to assess"),
    (lambda: veltrane.sp800_90b(bytes([0, 9, 3]), bits_per_symbol=3), ValueError,
     "a sample of value 9 does not fit in 3 bits per symbol"),
    (lambda: veltrane.sp800_90b(b"\x01", bits_per_symbol=0), ValueError, "bits_per_symbol must be from 1 to 8, not 0"),
    (lambda: veltrane.sp800_90b(b"\x01", bits_per_symbol=9), ValueError, "bits_per_symbol must be from 1 to 8, not 9"),
    (lambda: veltrane.sp800_90b(b"\x01", bits_per_symbol="8"), TypeError, None),
    (lambda: veltrane.sp800_90b(12), TypeError, None),
])
def test_hostile_arguments_are_refused_with_their_reason(call, kind, message):
    with pytest.raises(kind) as caught:
        call()
    if message is not None:
        assert str(caught.value) == message


def test_progress_words_count_every_estimator_and_refuse_what_cannot_hold_them():
    from veltrane._sp800_90b import assess

    words = array.array("Q", [0, 0])
    assess(some_samples(2, 3000, 8), None, words)
    # Nine runs on the bitstring (t-tuple and LRS share one sort), six on wider literal samples.
    assert list(words) == [15, 15]
    with pytest.raises(ValueError, match="two aligned 64-bit words"):
        assess(b"\x01\x00", None, array.array("Q", [0]))
    with pytest.raises(BufferError):
        assess(b"\x01\x00", None, bytes(16))


def test_threads_assess_side_by_side_with_the_same_results():
    inputs = [some_samples(seed, 20000, 1 + seed % 8) for seed in range(4)]
    expected = [veltrane.sp800_90b(d) for d in inputs]
    got = [None] * len(inputs)

    def run(i):
        got[i] = veltrane.sp800_90b(inputs[i])

    threads = [threading.Thread(target=run, args=(i,)) for i in range(len(inputs))]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=120)
    assert got == expected


def test_the_command_prints_the_summary_the_tool_layout_and_json(tmp_path, capsys):
    path = tmp_path / "samples.bin"
    path.write_bytes((DATA / "rand4_short.bin").read_bytes())
    a = veltrane.sp800_90b(path.read_bytes())

    assert main(["sp800-90b", str(path)]) == 0
    short = capsys.readouterr().out.splitlines()
    assert short[-1] == f"min(H_original, 4 X H_bitstring): {a.min_entropy:.17g}"

    assert main(["sp800-90b", "-v", str(path)]) == 0
    assert capsys.readouterr().out == verbose(str(path), a)

    assert main(["sp800-90b", "--json", "--bits", "8", str(path)]) == 0
    record = json.loads(capsys.readouterr().out)
    assert record["path"] == str(path) and record["width"] == 8
    assert record["literal"]["lag"]["c"] == a.literal.lag.c
    assert record["bitstring"]["lag"]["p_local"] is None or record["bitstring"]["lag"]["p_local"] > 0


def test_the_command_reports_bad_samples_and_bad_options(tmp_path, capsys):
    path = tmp_path / "wide.bin"
    path.write_bytes(bytes(range(256)))
    assert main(["sp800-90b", "--bits", "4", str(path)]) == 1
    assert capsys.readouterr().err == (f"veltrane: {path}: a sample of value 255 does not fit in 4 bits per symbol\n")
    assert main(["sp800-90b", str(tmp_path / "missing.bin")]) == 1
    assert "missing.bin" in capsys.readouterr().err
    assert main(["sp800-90b", "--bits", "9", str(path)]) == 2
    assert "must be from 1 to 8" in capsys.readouterr().err
