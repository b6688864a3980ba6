"""Conversion of arguments: `data` to bytes or text, unsigned 64-bit integers, booleans.

Expected outcomes come from the small model of the conversion rules in
conversion_model.py, with their exact messages.
"""

import array
import ctypes
import mmap

import numpy
import pytest

from conftest import UNDER_SANITIZER
from hypothesis import given, settings, strategies as st

import _veltrane
from conversion_model import (Index, Refusal, Seq, Unprintable, cast_failure, hostile, model_bool, model_data,
                              model_u64, raising)

MEASURES = [_veltrane.shannon_entropy.measure_entropy, _veltrane.shannon_entropy.measure_metric_entropy,
            _veltrane.shannon_entropy.measure_normalized_metric_entropy, _veltrane.min_entropy.measure_entropy]
FIND = _veltrane.strings_frag.find_non_overlapping_fragments


# ---------------------------------------------------------------- observing the module


def outcome(call):
    try:
        value = call()
    except Exception as exc:
        return ("error", type(exc), str(exc), getattr(exc, "__notes__", None), exc.__cause__)
    return ("value", value.hex() if isinstance(value, float) else value)  # hex: -0.0 is not 0.0


def measured(make):
    return [outcome(lambda: measure(make())) for measure in MEASURES]


BASELINE = measured(lambda: b"hello world")


def check_data(make):
    """`make` builds a fresh argument per call, since reading some arguments changes them."""
    data = model_data(make())
    if isinstance(data, Refusal):
        assert measured(make) == [("error", data.type, data.message, ["while processing 'data'"], None)] * 4
    else:
        assert measured(make) == measured(lambda: data)
    assert measured(lambda: b"hello world") == BASELINE  # a failed call leaves nothing behind


def converts(**arguments):
    """Whether the fragment search accepted these arguments and answered."""
    result = FIND(**{"data": b"abab", "count": 1, "times": 2, "global_non_overlap": False, **arguments})
    return isinstance(result, list)


# ---------------------------------------------------------------- odd objects


def chained_next(self):
    raise ValueError("x") from KeyError("k")


BytesSub = type("BytesSub", (bytes,), {"__iter__": lambda self: iter([0, 0, 0])})
ByteArraySub = type("ByteArraySub", (bytearray,), {"__iter__": lambda self: iter([0, 0, 0])})
StrSub = type("StrSub", (str,), {"encode": lambda self, *a: b"zz"})
DictSeq = type("DictSeq", (dict,), {"__getitem__": lambda self, i: 1})
ArraySub = type("ArraySub", (array.array,), {"__iter__": lambda self: iter([*array.array.__iter__(self), 7])})
NdSub = type("NdSub", (numpy.ndarray,), {"__iter__": lambda self: iter([9, *numpy.ndarray.__iter__(self)])})


# ---------------------------------------------------------------- data


@pytest.mark.parametrize("data, raw", [
    ("é", b"\xc3\xa9"), ("", b""), ([], b""), (StrSub("ab"), b"ab"), (bytearray(b"ab"), b"ab"), ([97, 98], b"ab"),
    ((97, 98), b"ab"), (memoryview(b"ab"), b"ab"), (array.array("B", b"ab"), b"ab"),
    (numpy.frombuffer(b"ab", dtype=numpy.uint8), b"ab"), ([0, 255], b"\x00\xff"), ((True, False), b"\x01\x00"),
    # A bytes or bytearray subclass is read for its contents, never through its own methods.
    (BytesSub(b"abc"), b"abc"), (ByteArraySub(b"abc"), b"abc"),
    (range(250, 256), bytes(range(250, 256))), (Seq([numpy.uint8(7), Index(8), True]), b"\x07\x08\x01"),
])
def test_equivalent_inputs_measure_the_same(data, raw):
    assert measured(lambda: data) == measured(lambda: raw)


def test_literal_messages_anchor_the_model():
    assert measured(lambda: "é") == [("value", v.hex()) for v in (1.0, 0.125, 1.0, 1.0)]
    assert outcome(lambda: MEASURES[0](5)) == ("error", TypeError, (
        "failed to extract enum BytesOrStr ('Str | Bytes')\n"
        "- variant Str (Str): TypeError: failed to extract field BytesOrStr::Str.0, caused by "
        "TypeError: 'int' object is not an instance of 'str'\n"
        "- variant Bytes (Bytes): TypeError: failed to extract field BytesOrStr::Bytes.0, caused by "
        "TypeError: 'int' object is not an instance of 'Sequence'"), ["while processing 'data'"], None)
    for data, tail in [
        (hostile(__iter__=lambda self: self, __next__=chained_next), "ValueError: x, caused by KeyError: 'k'"),
        (Seq([Index(raising(Unprintable))]), "Unprintable: <exception str() failed>"),
        ([None], "TypeError: 'NoneType' object cannot be interpreted as an integer"),
        ([1, 2, 300], "OverflowError: out of range integral type conversion attempted"),
    ]:
        assert outcome(lambda: MEASURES[0](data))[2].endswith(" (Bytes): TypeError: failed to extract field "
                                                              "BytesOrStr::Bytes.0, caused by " + tail)


@pytest.mark.parametrize("make", [
    # not sequences (iterable or not)
    lambda: 5, lambda: None, lambda: 1.5, lambda: object(), lambda: {1: 2}, lambda: {1}, lambda: frozenset(),
    lambda: DictSeq(), lambda: (i for i in b"ab"), lambda: iter([1]),
    # text without a UTF-8 form
    lambda: "\ud800", lambda: "ab\udfff\ud800c", lambda: StrSub("\udc80"),
    # items that are not bytes
    lambda: [1, 2, 300], lambda: [1, -1], lambda: [1.5], lambda: [2**64], lambda: [-(2**70)], lambda: ["a"],
    lambda: [b"a"], lambda: [numpy.float64(1.0)], lambda: (numpy.int64(256),), lambda: Seq([Index("a")]),
    lambda: Seq([Index(raising(KeyError, "idx"))]), lambda: Seq([Index(-3)]),
    # hostile sequences: a failing __len__ only loses the size hint, any other failure is the Bytes failure
    lambda: hostile(__len__=raising(ZeroDivisionError)), lambda: hostile(__len__=lambda self: -5),
    lambda: hostile(__len__=lambda self: 2**62), lambda: hostile(__len__=lambda self: 2**80),
    lambda: hostile(__iter__=raising(ZeroDivisionError, "it")), lambda: hostile(__iter__=lambda self: 5),
    lambda: hostile(__iter__=lambda self: self, __next__=chained_next),
    lambda: hostile(__iter__=lambda self: self, __next__=raising(Unprintable)),
    lambda: hostile(__getitem__=lambda self, i: [4, 5][i]),
    lambda: hostile(__getitem__=lambda self, i: i if i < 3 else {}[i]),
    lambda: hostile(__getitem__=lambda self, i: (None, 1)[i]),
])
def test_data_conversion_matches_the_model(make):
    check_data(make)


def mutated_list(container, action):
    items = container([0, None, 5, 6, 7])
    items[1] = Index(lambda: (action(items), 1)[1])  # converting this item changes the list being read
    return items


@pytest.mark.parametrize("action", [
    list.clear, list.pop, list.reverse, lambda l: l.append(9) if len(l) < 8 else None,
    lambda l: l.__setitem__(slice(2, None), [300]), lambda l: l.insert(0, Index(3)) if len(l) < 8 else None,
])
@pytest.mark.parametrize("container", [list, type("ListSub", (list,), {})])
def test_list_changed_during_conversion(action, container):
    check_data(lambda: mutated_list(container, action))


@settings(max_examples=150, deadline=None)
@given(st.text(st.characters(exclude_categories=()))
       | st.lists(st.sampled_from(["a", "é", "\ud800", "\udfff", "\U0001f600", "\x00"])).map("".join))
def test_text_measures_its_utf8_bytes(text):
    check_data(lambda: text)


@settings(max_examples=150, deadline=None)
@given(st.binary(max_size=300), st.sampled_from([
    bytes, bytearray, list, tuple, memoryview, Seq, BytesSub, ByteArraySub, lambda b: b.decode("latin-1"),
    lambda b: array.array("B", b), lambda b: numpy.frombuffer(b, dtype=numpy.uint8)]))
def test_byte_sequences_in_any_form(raw, form):
    check_data(lambda: form(raw))


# ---------------------------------------------------------------- buffers read in place


def make_buffer_object(raw, kind, variant):
    if kind in "bBhHiIlqQfd":
        obj = array.array(kind, [v - 128 if kind == "b" else float(v) if kind in "fd" else v for v in raw])
        if variant == "frombytes":
            obj = array.array(kind, raw[: len(raw) - len(raw) % obj.itemsize])
    elif kind == "ArraySub":
        obj = ArraySub("B", raw)
    else:
        obj = numpy.frombuffer(raw, dtype=numpy.uint8).astype(kind)
        if variant == "2d":
            obj = obj[: len(obj) // 2 * 2].reshape(-1, 2) if kind != "uint8" else obj.reshape(1, -1)
        elif variant == "subclass":
            obj = obj.view(NdSub)
    even = raw and len(raw) % 2 == 0
    if variant in ("memoryview", "released"):
        obj = memoryview(obj)
    if variant == "released":
        obj.release()
    elif variant == "every_other":
        obj = obj[::2]
    elif variant == "reversed":
        obj = obj[::-1]
    elif variant == "cast" and even:
        obj = memoryview(bytearray(raw)).cast(kind if kind in "bBhH" else "c")
    elif variant == "cast2d" and even:
        obj = memoryview(raw).cast("B", shape=[2, len(raw) // 2])
    return obj


def bytes_line(result):
    return result if result[0] == "value" else result[2].split("\n")[2]


@settings(max_examples=400, deadline=None)
@given(st.binary(max_size=64) | st.binary(max_size=64).map(lambda b: bytes(v % 4 for v in b)),
       st.sampled_from([*"bBhHiIlqQfd", "ArraySub", "int8", "uint8", "uint16", "int32", "float32", "bool"]),
       st.sampled_from(["plain", "frombytes", "2d", "subclass", "every_other", "reversed", "memoryview",
                        "cast", "cast2d", "released"]))
def test_buffer_objects_read_like_their_items(raw, kind, variant):
    obj = make_buffer_object(raw, kind, variant)
    check_data(lambda: obj)
    if variant == "released":
        return  # CPython 3.11 iterates a released view from freed memory: never iterate one
    try:
        items = list(obj)
    except Exception:
        return
    # The same items in a plain list measure the same, or fail on the same item.
    assert list(map(bytes_line, measured(lambda: obj))) == list(map(bytes_line, measured(lambda: items)))


def released(raw):
    view = memoryview(raw)
    view.release()
    return view


def mmap_of(raw, closed=False):
    m = mmap.mmap(-1, len(raw))
    m.write(raw)
    if closed:
        m.close()
    return m


@pytest.mark.parametrize("make", [
    # iterating an mmap yields one-byte bytes objects, which are not integers
    pytest.param(lambda: mmap_of(b"abc"), id="mmap"), pytest.param(lambda: mmap_of(b"abc", True), id="closed-mmap"),
    # a memoryview iterates native formats only, and ctypes exports '<B'
    pytest.param(lambda: memoryview((ctypes.c_ubyte * 3)(1, 2, 2)), id="ctypes-memoryview"),
    # a released view answers with its refusal, empty or not, and is never iterated
    pytest.param(lambda: released(b""), id="released-empty-view"),
    pytest.param(lambda: released(b"abc"), id="released-view"),
    # a subclass stays a subclass whatever its name says
    pytest.param(lambda: type("array.array", (array.array,), {"__iter__": lambda self: iter([1, 1, 1])})("B", b"abc"),
                 id="renamed-array-subclass"),
])
def test_buffer_exporters_with_unusual_iteration(make):
    check_data(make)


# ---------------------------------------------------------------- unsigned 64-bit integers

IntSub = type("IntSub", (int,), {"__index__": lambda self: 7})  # an int subclass converts by its value


@pytest.mark.parametrize("x", [
    0, 21, True, False, 2**63, 2**64 - 1, 2**64, -1, -(2**100), IntSub(3), Index(5), Index(-1), Index(2**64),
    Index("5"), Index(5.0), Index(raising(LookupError, "no index")), numpy.uint64(2**64 - 1),
    numpy.int8(-1), 1.5, "1", None, b"1",
])
def test_u64_conversion(x):
    clean = model_u64(x)
    want = (("error", clean.type, clean.message) if isinstance(clean, Refusal) else ("value", clean * 2 % 2**64))
    for parameter, call in [("x", lambda: _veltrane.ping(x)), ("x", lambda: _veltrane.ping(x=x)),
                            ("count", lambda: FIND(b"ab", x, 1, True)), ("times", lambda: FIND(b"ab", 1, x, True))]:
        if want[0] == "value" and parameter != "x":
            assert converts(**{parameter: x})
        elif want[0] == "value":
            assert outcome(call) == want
        else:
            assert outcome(call) == want[:3] + ([f"while processing '{parameter}'"], None)


@settings(max_examples=300, deadline=None)
@given(st.integers(-(2**66), 2**66) | st.sampled_from([0, 2**64 - 1, 2**64, 2**63, -1]))
def test_ping_doubles_modulo_2_64(x):
    if 0 <= x < 2**64:
        assert _veltrane.ping(x) == 2 * x % 2**64 and converts(count=x, times=x)
    else:
        want = model_u64(x)
        assert want.type is OverflowError
        assert outcome(lambda: _veltrane.ping(x)) == ("error", want.type, want.message, ["while processing 'x'"], None)


def test_index_failure_is_the_very_exception_with_one_note():
    class Refusing(Exception):
        def add_note(self, note):
            raise RuntimeError("no notes here")

    for raised, notes in [(KeyError("from __index__"), ["while processing 'x'"]), (Refusing("as is"), None)]:
        def fail():
            raise raised
        with pytest.raises(type(raised)) as info:
            _veltrane.ping(Index(fail))
        assert info.value is raised and getattr(raised, "__notes__", None) == notes
        assert _veltrane.ping(4) == 8


# ---------------------------------------------------------------- booleans


def numpy_lookalike(**methods):
    return type("bool_", (), {"__module__": "numpy", **methods})()


@pytest.mark.parametrize("flag", [True, False, numpy.bool_(True), numpy.bool_(False),
                                  numpy_lookalike(__bool__=lambda self: True)])
def test_booleans_accepted(flag):
    assert converts(global_non_overlap=flag)


@pytest.mark.parametrize("flag", [
    1, 0, None, 1.0, "True", numpy.int8(1), numpy.array([True]), type("Truthy", (), {"__bool__": lambda s: True})(),
    type("bool_", (), {"__module__": "numpy.core"})(), type("boolean", (), {"__module__": "numpy"})(),
])
def test_non_booleans_refused(flag):
    want = model_bool(flag)
    assert (want.type, want.message) == (TypeError, str(cast_failure(flag, "bool")))
    assert outcome(lambda: FIND(b"ab", 1, 1, flag)) == ("error", TypeError, want.message,
                                                        ["while processing 'global_non_overlap'"], None)


@pytest.mark.parametrize("flag", [numpy_lookalike(__bool__=raising(ZeroDivisionError, "truth")),
                                  numpy_lookalike(__bool__=lambda self: 2), numpy_lookalike()])
def test_failing_truth_of_a_numpy_boolean(flag):
    want = model_bool(flag)
    assert outcome(lambda: FIND(b"ab", 1, 1, flag)) == ("error", want.type, want.message,
                                                        ["while processing 'global_non_overlap'"], None)


# ---------------------------------------------------------------- order


@pytest.mark.parametrize("arguments, failing", [
    ((None, -1, -1, 1), 0), (([300], IntSub(1), 2, 0), 0), ((b"ab", -1, 1.5, 1), 1),
    ((b"ab", 1, "2", None), 2), (([1, 2], 1, 2, 1), 3),
])
def test_first_bad_parameter_is_the_one_reported(arguments, failing):
    bad = arguments[failing]
    want = (lambda b: model_data(b, for_search=True), model_u64, model_u64, model_bool)[failing](bad)
    name = ("data", "count", "times", "global_non_overlap")[failing]
    assert outcome(lambda: FIND(*arguments)) == ("error", want.type, want.message, [f"while processing '{name}'"],
                                                 None)
    assert converts() and _veltrane.ping(2) == 4
