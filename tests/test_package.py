"""The pure-Python package `veltrane`: wrappers, `scan`, entropy profiles and the declared types."""
import array
import dataclasses
import inspect
import mmap
import os
import subprocess
import sys
import textwrap

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _veltrane
import veltrane
from conftest import UNDER_SANITIZER
from veltrane import find_edges

MIRRORED = {
    "shannon_entropy": ["measure_entropy", "measure_metric_entropy", "measure_normalized_metric_entropy"],
    "min_entropy": ["measure_entropy"],
    "strings_frag": ["find_non_overlapping_fragments"],
}


# ----------------------------------------------------------------------------- the wrappers


def test_wrappers_mirror_the_native_tree_with_real_signatures_and_english_docs():
    for module_name, functions in MIRRORED.items():
        native = getattr(_veltrane, module_name)
        wrapper = getattr(veltrane, module_name)
        assert sorted(n for n in dir(native) if not n.startswith("_")) == functions
        for name in functions:
            python_function = getattr(wrapper, name)
            native_params = inspect.signature(getattr(native, name)).parameters
            assert list(inspect.signature(python_function).parameters) == list(native_params)
            assert python_function.__doc__ and python_function.__doc__.isascii()
    for name in ("version", "profile"):
        assert list(inspect.signature(getattr(veltrane, name)).parameters) == list(
            inspect.signature(getattr(_veltrane, name)).parameters)
        assert getattr(veltrane, name).__doc__.isascii()
    # `ping` checks that the native module answers; it is not part of the package's surface.
    assert "ping" not in veltrane.__all__ and not hasattr(veltrane, "ping")
    assert sorted(veltrane.__all__) == sorted(n for n in vars(veltrane) if n in veltrane.__all__)
    assert veltrane.__version__ == veltrane.version() == _veltrane.version()
    assert veltrane.profile() in ("debug", "release")


def byte_forms(data):
    """The same bytes in every form the package accepts."""
    forms = [bytes(data), bytearray(data), memoryview(data), array.array("B", data), list(data)]
    try:
        import numpy
    except ImportError:
        pass
    else:
        forms.append(numpy.frombuffer(bytes(data), dtype=numpy.uint8))
    return forms


@settings(max_examples=40, deadline=None)
@given(st.binary(max_size=600))
def test_wrappers_agree_with_the_module_on_every_input_form(data):
    measures = [
        (veltrane.shannon_entropy.measure_entropy, _veltrane.shannon_entropy.measure_entropy),
        (veltrane.shannon_entropy.measure_metric_entropy, _veltrane.shannon_entropy.measure_metric_entropy),
        (veltrane.shannon_entropy.measure_normalized_metric_entropy,
         _veltrane.shannon_entropy.measure_normalized_metric_entropy),
        (veltrane.min_entropy.measure_entropy, _veltrane.min_entropy.measure_entropy),
    ]
    for form in byte_forms(data):
        for wrapper, native in measures:
            assert wrapper(data=form) == native(data)
        assert veltrane.strings_frag.find_non_overlapping_fragments(form, 3, 2, True) == (
            _veltrane.strings_frag.find_non_overlapping_fragments(data, 3, 2, True))


def test_an_mmap_is_read_through_its_buffer_and_can_be_closed_afterwards(tmp_path):
    path = tmp_path / "data.bin"
    path.write_bytes(b"abcabcabd" * 50)
    with open(path, "rb") as handle:
        mapping = mmap.mmap(handle.fileno(), 0, access=mmap.ACCESS_READ)
        assert veltrane.shannon_entropy.measure_entropy(mapping) == _veltrane.shannon_entropy.measure_entropy(
            path.read_bytes())
        result = veltrane.scan(mapping, fragments=2)
        mapping.close()  # would raise BufferError if a view of it were still alive
    assert result == veltrane.scan(path.read_bytes(), fragments=2)


def test_native_errors_pass_through_unchanged():
    with pytest.raises(TypeError):
        veltrane.shannon_entropy.measure_entropy(3.5)
    with pytest.raises(OverflowError):
        veltrane.strings_frag.find_non_overlapping_fragments(b"ab", -1, 2, False)


# ----------------------------------------------------------------------------- scan


def reference_scan(data_bytes, searched, count, min_count):
    found = veltrane.repeats(searched, top=count, min_count=min_count, min_length=2)
    return (
        len(data_bytes),
        _veltrane.shannon_entropy.measure_entropy(data_bytes),
        _veltrane.shannon_entropy.measure_metric_entropy(data_bytes),
        _veltrane.shannon_entropy.measure_normalized_metric_entropy(data_bytes),
        _veltrane.min_entropy.measure_entropy(data_bytes),
        list(found),
    )


def observed(result):
    return (
        result.size, result.shannon_entropy, result.metric_entropy, result.normalized_entropy, result.min_entropy,
        list(result.repeats),
    )


def test_scan_reads_any_buffer_as_its_raw_bytes_and_refuses_the_rest():
    # The measures and the size come from one engine pass over the raw bytes.
    numpy = pytest.importorskip("numpy")
    words = array.array("H", [1, 2, 3, 4])
    assert veltrane.scan(words).size == 8
    assert veltrane.scan(words).measures == veltrane.measure(words.tobytes())
    grid = numpy.arange(24, dtype=numpy.int32).reshape(4, 6)[:, ::2]  # not contiguous: copied once
    assert veltrane.scan(grid, fragments=2) == veltrane.scan(grid.tobytes(), fragments=2)
    for refused in ([1, 2, 3], None, 3.5, {1: 2}):
        with pytest.raises(TypeError, match="data must be a bytes-like object .* or a str, not"):
            veltrane.scan(refused)


@settings(max_examples=40, deadline=None)
@given(st.text(alphabet="ab€🙂\n", max_size=80), st.integers(1, 6), st.integers(1, 3), st.booleans())
def test_scan_measures_bytes_and_searches_in_the_chosen_unit(text, count, times, _):
    encoded = text.encode("utf-8")
    options = dict(fragments=count, min_count=times, min_length=2)
    # A str is searched in code points, bytes in bytes, unless `text` says otherwise.
    as_text = reference_scan(encoded, text, count, times)
    as_bytes = reference_scan(encoded, encoded, count, times)
    assert observed(veltrane.scan(text, **options)) == as_text
    assert observed(veltrane.scan(encoded, **options)) == as_bytes
    assert observed(veltrane.scan(encoded, text=True, **options)) == as_text
    assert observed(veltrane.scan(text, text=False, **options)) == as_bytes
    result = veltrane.scan(text, **options)
    assert result.unit == result.repeats.unit == "code points"
    assert veltrane.scan(encoded, **options).unit == "bytes"
    for repeat in result.repeats:
        assert repeat.count == len(repeat.starts) >= times
        assert len({text[start : start + repeat.length] for start in repeat.starts}) == 1


def test_scan_reads_paths_numpy_arrays_and_empty_files(tmp_path):
    content = b"the rain in spain stays mainly in the plain" * 3
    path = tmp_path / "data.txt"
    path.write_bytes(content)
    expected = veltrane.scan(content)
    assert veltrane.scan(path) == expected
    assert veltrane.scan(path, text=True) == veltrane.scan(content.decode())
    numpy = pytest.importorskip("numpy")
    assert veltrane.scan(numpy.frombuffer(content, dtype=numpy.uint8)) == expected
    empty = tmp_path / "empty"
    empty.write_bytes(b"")
    nothing = veltrane.scan(empty)
    assert (nothing.size, nothing.shannon_entropy, nothing.min_entropy, len(nothing.repeats)) == (0, 0.0, 0.0, 0)
    assert nothing == veltrane.scan(b"")  # undefined figures (NaN) compare equal to themselves


def test_scan_result_is_a_frozen_dataclass_and_zero_fragments_skip_the_search():
    result = veltrane.scan(b"abab" * 10, fragments=0)
    assert result.repeats is None  # not searched, as opposed to searched and nothing found
    assert {f.name for f in dataclasses.fields(result)} == {"measures", "repeats", "unit"}
    assert result.measures == veltrane.measure(b"abab" * 10)
    with pytest.raises(dataclasses.FrozenInstanceError):
        result.unit = "bytes"  # type: ignore[misc]
    with pytest.raises(ValueError):
        veltrane.scan(b"x", fragments=-1)
    with pytest.raises(UnicodeDecodeError):
        veltrane.scan(b"\xff\xfe", text=True)


# ----------------------------------------------------------------------------- profiles


def edges_model(values, high, low):
    """Independent statement of the hysteresis: the state after each value, and where it changes.

    The state is high after a value >= high, low after a value < low, and unchanged
    in between; the data starts low.
    """
    states, state = [], "low"
    for value in values:
        state = "high" if value >= high else "low" if value < low else state
        states.append(state)
    previous = ["low"] + states[:-1]
    return [(i, "rising" if now == "high" else "falling") for i, (before, now) in enumerate(zip(previous, states))
            if before != now]


@given(
    st.lists(st.floats(0, 1), max_size=60),
    st.floats(0, 1),
    st.floats(0, 1),
)
def test_edges_follow_the_hysteresis(values, a, b):
    high, low = max(a, b), min(a, b)
    offsets = [i * 10 for i in range(len(values))]
    found = find_edges(offsets, values, high, low)
    assert [(e.offset // 10, e.direction) for e in found] == edges_model(values, high, low)
    assert all(e.value == values[e.offset // 10] for e in found)
    # Edges alternate, starting with a rise.
    assert [e.direction for e in found] == ["rising", "falling"] * (len(found) // 2) + ["rising"] * (len(found) % 2)


def test_edges_need_ordered_thresholds():
    with pytest.raises(ValueError):
        find_edges([0], [0.5], high=0.4, low=0.6)


@settings(max_examples=60, deadline=None)
@given(st.integers(0, 5000), st.integers(1, 700), st.integers(1, 700))
def test_windows_cover_the_data_in_whole_windows(size, window, step):
    starts = list(veltrane.entropy_profile(bytes(size), window, step).offsets)
    if size == 0:
        assert starts == []
        return
    assert starts[0] == 0
    assert starts == sorted(set(starts))
    length = min(window, size)
    assert all(0 <= s and s + length <= size for s in starts)
    assert starts[-1] + length == size  # the tail is never left out
    assert all(b - a <= step for a, b in zip(starts, starts[1:]))  # no gap longer than a step
    if size > window:
        regular = list(range(0, size - window + 1, step))
        assert starts in (regular, regular + [size - window])


def test_entropy_profile_measures_every_window_and_finds_the_random_part():
    import random

    content = b"a" * 3000 + random.Random(3).randbytes(5000) + b"ab" * 1500
    profile = veltrane.entropy_profile(content, 500, 250, measure="normalized")
    assert [v.hex() for v in profile.values] == [
        _veltrane.shannon_entropy.measure_normalized_metric_entropy(content[s : s + 500]).hex() for s in profile.offsets]
    assert [e.direction for e in profile.edges] == ["rising", "falling"]
    (region,) = profile.regions
    assert abs(region[0] - 3000) <= 500 and abs(region[1] - 8000) <= 500
    open_ended = veltrane.entropy_profile(content[:8000], 500)
    assert open_ended.regions[-1][1] == 8000  # a region still high at the end closes there
    assert veltrane.entropy_profile(memoryview(content), 500) == veltrane.entropy_profile(content, 500)


# ----------------------------------------------------------------------------- types


def run_mypy(tmp_path, source):
    if UNDER_SANITIZER:
        pytest.skip("the declared types do not depend on how the module is built")
    pytest.importorskip("mypy")
    program = tmp_path / "example.py"
    program.write_text(textwrap.dedent(source))
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(
        [os.path.dirname(os.path.dirname(veltrane.__file__)), os.path.dirname(_veltrane.__file__),
         env.get("PYTHONPATH", "")])
    return subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--cache-dir", str(tmp_path / "cache"),
         "--python-executable", sys.executable, str(program)],
        capture_output=True, text=True, env=env, cwd=tmp_path, timeout=600,
    )


def test_mypy_strict_accepts_typical_use(tmp_path):
    done = run_mypy(tmp_path, """
        import mmap
        import pathlib

        import _veltrane
        import veltrane
        from _veltrane import min_entropy, shannon_entropy, strings_frag

        bits: float = shannon_entropy.measure_entropy(b"abc") + min_entropy.measure_entropy("text")
        found = strings_frag.find_non_overlapping_fragments("abcabc", 3, 2, False)
        start: int = found[0]["occurrences"][0]["start"]
        result: veltrane.ScanResult = veltrane.scan(bytearray(b"abcabc"), fragments=2, text=True)
        counts: list[int] = [repeat.count for repeat in result.repeats or ()]
        columns: memoryview = veltrane.repeats(b"abcabc", min_length=2, top=None).starts
        from_file: float = veltrane.scan(pathlib.Path("data.bin")).normalized_entropy
        profile = veltrane.entropy_profile(memoryview(b"x" * 100), 10, measure="normalized")
        rises: list[int] = [edge.offset for edge in profile.edges if edge.direction == "rising"]
        build: str = _veltrane.profile() + veltrane.version()
        doubled: int = _veltrane.ping(21)
        shown: str = veltrane.format_measure(result.min_entropy, 2)
        assessed = veltrane.sp800_90b(b"\\x00\\x01\\x03", bits_per_symbol=2)
        lag_c: int = assessed.literal.lag.c
        local: float | None = assessed.literal.lag.p_local
        tuples: veltrane.TTuple | None = assessed.bitstring.t_tuple if assessed.bitstring else None
        iid: veltrane.IidAssessment = veltrane.sp800_90b_iid(b"\x00\x01" * 50, seed="01" * 32)
        c0: int = iid.permutation["compression"].c0
        assigned: float | None = iid.min_entropy if iid.iid else None
        p_value: float | None = iid.chi_square.independence.p_value
        h_out: float = veltrane.sp800_90b_conditioning(512, 256, 256, 400).h_out
    """)
    assert done.returncode == 0, done.stdout + done.stderr


def test_the_package_itself_passes_mypy_strict(tmp_path):
    # Its own code against its declared types, the engine's stubs included, found
    # by name as a user's type checker finds it.
    if UNDER_SANITIZER:
        pytest.skip("the declared types do not depend on how the module is built")
    pytest.importorskip("mypy")
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(
        [os.path.dirname(os.path.dirname(veltrane.__file__)), os.path.dirname(_veltrane.__file__),
         env.get("PYTHONPATH", "")])
    done = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--cache-dir", str(tmp_path / "cache"),
         "--python-executable", sys.executable, "-p", "veltrane"],
        capture_output=True, text=True, env=env, cwd=tmp_path, timeout=600)
    assert done.returncode == 0, done.stdout + done.stderr


def test_mypy_strict_rejects_misuse(tmp_path):
    done = run_mypy(tmp_path, """
        import _veltrane.min_entropy
        from _veltrane import shannon_entropy
        import veltrane

        shannon_entropy.measure_entropy(1.5)
        veltrane.scan(b"", fragments="many")
        wrong: str = veltrane.scan(b"").size
    """)
    assert done.returncode == 1
    errors = [line for line in done.stdout.splitlines() if ": error:" in line]
    assert [line.split(":")[1] for line in errors] == ["2", "6", "7", "8"], done.stdout
