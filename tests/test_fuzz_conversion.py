"""Random arguments for every function: a value equal to the clean equivalent, or the right exception.

Arguments are built from random parts: byte strings in every container, buffer
format and shape; numpy arrays and scalars of every dtype; nested sequences;
subclasses; objects whose dunder methods raise or answer nonsense; integers of
any size. A small model says what each argument means in clean form (bytes, a
text, an int, a bool) or which exception converting it raises, using only the
language's own protocols (conversion_model.py). The function must then return
exactly what it returns for the clean arguments, or raise that exception, with
its message and the note naming the first bad parameter; a crash or a
SystemError is always a failure, and nothing may linger for the next call.
"""
import array
import ctypes
import fractions
import decimal
import operator

import numpy
import pytest
from hypothesis import HealthCheck, given, note, settings, strategies as st

import _veltrane
from conftest import PROJECT_VERSION
from conversion_model import Index, Refusal, Seq, model_bool, model_data, model_u64

# Objects whose __index__ returns a bool or an int subclass, and arrays of the
# wide-character type code, are generated on purpose: the interpreter's warnings
# about them are expected, not findings.
pytestmark = [
    pytest.mark.filterwarnings("ignore:.*strict subclass of int is deprecated:DeprecationWarning"),
    pytest.mark.filterwarnings("ignore:The 'u' type code is deprecated:DeprecationWarning"),
]

MEASURES = [_veltrane.shannon_entropy.measure_entropy, _veltrane.shannon_entropy.measure_metric_entropy,
            _veltrane.shannon_entropy.measure_normalized_metric_entropy, _veltrane.min_entropy.measure_entropy]
FIND = _veltrane.strings_frag.find_non_overlapping_fragments
U64_MAX = 2**64 - 1


def outcome(call):
    try:
        value = call()
    except Exception as exc:
        return ("error", type(exc), str(exc), getattr(exc, "__notes__", None))
    return ("value", value.hex() if isinstance(value, float) else value)


def expect(call_with_clean, parameters):
    """The outcome the model predicts; `parameters` is [(name, clean value or Refusal)] in order."""
    for name, value in parameters:
        if isinstance(value, Refusal):
            return ("error", value.type, value.message, [f"while processing '{name}'"])
    return outcome(lambda: call_with_clean(*[value for _, value in parameters]))


def check(got, want):
    assert got[:2] != ("error", SystemError), got
    assert got == want
    # A failed call leaves no exception pending and no state behind.
    assert _veltrane.ping(21) == 42 and MEASURES[0](b"ab") == 1.0


# ---------------------------------------------------------------- argument parts


IntSub = type("IntSub", (int,), {"__index__": lambda self: 300})  # an int converts by its value
StrSub = type("StrSub", (str,), {"encode": lambda self, *a: b"nonsense", "__str__": lambda self: "nonsense"})
BytesSub = type("BytesSub", (bytes,), {"__iter__": lambda self: iter([300])})
ByteArraySub = type("ByteArraySub", (bytearray,), {"__iter__": lambda self: iter([300])})
ListSub = type("ListSub", (list,), {"__iter__": lambda self: iter([7])})
TupleSub = type("TupleSub", (tuple,), {})
ArraySub = type("ArraySub", (array.array,), {})

ODD_ANSWERS = [ValueError("v"), KeyError("k"), ZeroDivisionError(), RecursionError(), -1, 2**64, 2**200, 1.5,
               "1", None, IntSub(5), True]


FRESH_ITERATOR = object()


def hostile_sequence(items, failing, answer):
    """A sequence of `items` whose `failing` dunder raises or answers `answer`."""
    def method(self, *args):
        if failing == "__getitem__" and args[0] >= len(self.items):
            raise IndexError  # the end stays where it is: never an endless sequence
        if isinstance(answer, BaseException):
            raise type(answer)(*answer.args)
        if answer is FRESH_ITERATOR:
            return iter([1, 2])  # a new one per call: a shared one would be used up by the first reader
        return answer
    return type("Hostile", (Seq,), {failing: method})(items)


DTYPES = ["uint8", "int8", "uint16", "int16", ">u2", "uint32", "int32", "uint64", "int64", "float16", "float32",
          "float64", "complex64", "bool", "object", "S1", "U1", "datetime64[s]", "timedelta64[s]"]
TYPECODES = "bBhHiIlLqQfdu"
FORMATS = "BbcHhIiLlQqfd?nNP"

def numpy_scalar(value, dtype):
    return numpy.array(value, dtype=numpy.int64).astype(dtype)[()]  # wraps like a C cast


byte_strings = st.binary(max_size=24) | st.lists(st.integers(0, 2), max_size=24).map(bytes)

int_items = st.one_of(
    st.integers(0, 255), st.integers(-(2**70), 2**70), st.sampled_from([-1, 256, 2**63, 2**64, True, False]),
    st.builds(numpy_scalar, st.integers(0, 127),
              st.sampled_from(["uint8", "int8", "int16", "uint64", "float32", "float64", "bool", "complex64"])),
    st.builds(IntSub, st.integers(0, 300)), st.builds(Index, st.integers(0, 255) | st.sampled_from(ODD_ANSWERS)),
    st.sampled_from([None, 1.0, "a", b"a", [1], (), numpy.array(3), numpy.array([3])]),
)


def numpy_form(raw, dtype, layout):
    values = numpy.frombuffer(raw, dtype=numpy.uint8)
    if dtype in ("S1", "U1"):
        arr = values.astype("S1").astype(dtype)
    elif dtype.startswith(("datetime", "timedelta")):
        arr = values.astype("int64").astype(dtype)
    else:
        arr = values.astype(dtype)
    if layout == "2d":
        arr = arr[: len(arr) // 2 * 2].reshape(-1, 2)
    elif layout == "column":
        arr = arr.reshape(-1, 1)
    elif layout == "fortran":
        arr = numpy.asfortranarray(arr[: len(arr) // 2 * 2].reshape(2, -1)) if len(arr) >= 2 else arr
    elif layout == "strided":
        arr = arr[::2]
    elif layout == "reversed":
        arr = arr[::-1]
    elif layout == "readonly":
        arr = arr.copy()
        arr.flags.writeable = False
    elif layout == "0d":
        # zeros() rather than dtype.type(0): datetime types refuse a bare integer.
        arr = numpy.array(arr[0] if len(arr) else numpy.zeros(1, dtype=arr.dtype)[0], dtype=arr.dtype)
    elif layout == "scalar":
        return arr[0] if len(arr) else numpy.zeros(1, dtype=arr.dtype)[0]
    return arr


def memoryview_form(raw, fmt, shape):
    size = struct_size(fmt)
    usable = len(raw) // size * size
    view = memoryview(bytearray(raw[:usable])).cast("B").cast(fmt)
    if shape == "2d" and len(view) >= 2 and len(view) % 2 == 0:
        view = view.cast("B").cast(fmt, shape=[2, len(view) // 2])
    elif shape == "0d" and len(view) == 1:
        view = view.cast("B").cast(fmt, shape=[])
    elif shape == "strided":
        view = view[::2]
    elif shape == "released":
        view.release()
    return view


def struct_size(fmt):
    return memoryview(bytearray(16)).cast(fmt).itemsize


@st.composite
def data_arguments(draw):
    """A factory for a fresh `data` argument (reading some arguments changes or uses them up)."""
    make = draw(_data_factories())
    note(f"data: {make()!r}")
    return make


@st.composite
def _data_factories(draw):
    raw = draw(byte_strings)
    kind = draw(st.sampled_from(["plain", "numpy", "memoryview", "array", "items", "hostile", "text", "odd"]))
    if kind == "plain":
        form = draw(st.sampled_from([bytes, bytearray, BytesSub, ByteArraySub, list, tuple, ListSub, TupleSub, Seq,
                                     lambda b: b.decode("latin-1"), lambda b: StrSub(b.decode("latin-1")),
                                     lambda b: (ctypes.c_ubyte * len(b))(*b), lambda b: (ctypes.c_char * len(b))(*b),
                                     lambda b: range(len(b)), lambda b: iter(b), lambda b: dict.fromkeys(b)]))
        return lambda: form(raw)
    if kind == "numpy":
        dtype = draw(st.sampled_from(DTYPES))
        layout = draw(st.sampled_from(["plain", "2d", "column", "fortran", "strided", "reversed", "readonly",
                                       "0d", "scalar", "subclass"]))
        if layout == "subclass":
            return lambda: numpy_form(raw, dtype, "plain").view(type("NdSub", (numpy.ndarray,), {}))
        return lambda: numpy_form(raw, dtype, layout)
    if kind == "memoryview":
        fmt = draw(st.sampled_from(FORMATS))
        shape = draw(st.sampled_from(["1d", "2d", "0d", "strided", "released"]))
        return lambda: memoryview_form(raw, fmt, shape)
    if kind == "array":
        code = draw(st.sampled_from(TYPECODES))
        cls = draw(st.sampled_from([array.array, ArraySub]))
        if code == "u":
            return lambda: cls(code, raw.decode("latin-1"))
        return lambda: cls(code, [float(b) if code in "fd" else b - 128 if code == "b" else b for b in raw])
    if kind == "items":
        items = draw(st.lists(int_items, max_size=12))
        container = draw(st.sampled_from([list, tuple, Seq, ListSub, lambda x: numpy.array(x + [0], dtype=object)]))
        return lambda: container(list(items))
    if kind == "hostile":
        failing = draw(st.sampled_from(["__len__", "__iter__", "__getitem__"]))
        answer = draw(st.sampled_from(ODD_ANSWERS + [FRESH_ITERATOR, 2**62, 0]))
        return lambda: hostile_sequence(list(raw), failing, answer)
    if kind == "text":
        text = draw(st.text(st.characters(exclude_categories=()), max_size=16))
        return lambda: text
    odd = draw(st.sampled_from([None, 0, 2**100, 1.5, object(), {1}, frozenset(), numpy.uint8(3), numpy.float64(2),
                                Index(3), decimal.Decimal(1), fractions.Fraction(1, 2), type, Ellipsis]))
    return lambda: odd


u64_arguments = st.one_of(
    st.integers(0, U64_MAX), st.integers(-(2**80), 2**80), st.sampled_from([0, 1, 2, U64_MAX, 2**64, -1, True]),
    st.builds(numpy_scalar, st.integers(0, 2**31),
              st.sampled_from(["uint8", "int64", "uint64", "float64", "bool", "complex128", "int32"])),
    st.builds(IntSub, st.integers(0, 2**70)), st.builds(Index, st.integers(-5, 2**66) | st.sampled_from(ODD_ANSWERS)),
    st.sampled_from([None, 2.0, "3", b"3", [3], numpy.array(4), numpy.array([4]), decimal.Decimal(2),
                     fractions.Fraction(4, 2), object()]),
)
bool_arguments = st.sampled_from([True, False, numpy.bool_(True), numpy.bool_(False), 1, 0, None, 1.0, "True",
                                  numpy.array(True), numpy.array([True]), numpy.int8(1), Index(1)])

FUZZ = settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])


# ---------------------------------------------------------------- the functions


@FUZZ
@given(data_arguments(), st.integers(0, 3))
def test_measures_of_random_data(make, which):
    measure = MEASURES[which]
    want = expect(measure, [("data", model_data(make()))])
    check(outcome(lambda: measure(make())), want)
    check(outcome(lambda: measure(data=make())), want)


@FUZZ
@given(data_arguments(), u64_arguments | st.integers(0, 5), u64_arguments | st.integers(0, 4), bool_arguments)
def test_search_with_random_arguments(make, count, times, flag):
    want = expect(FIND, [("data", model_data(make(), for_search=True)), ("count", model_u64(count)),
                         ("times", model_u64(times)), ("global_non_overlap", model_bool(flag))])
    check(outcome(lambda: FIND(make(), count, times, flag)), want)
    check(outcome(lambda: FIND(global_non_overlap=flag, times=times, count=count, data=make())), want)


@FUZZ
@given(u64_arguments)
def test_ping_with_random_arguments(x):
    want = expect(lambda v: _veltrane.ping(v), [("x", model_u64(x))])
    if want[0] == "value":
        assert want[1] == 2 * operator.index(x) % 2**64
    check(outcome(lambda: _veltrane.ping(x)), want)


@settings(max_examples=50, deadline=None)
@given(u64_arguments | data_arguments().map(lambda make: make()))
def test_functions_without_parameters_refuse_any_argument(arg):
    for func in (_veltrane.version, _veltrane.profile):
        got = outcome(lambda: func(arg))
        assert got[:2] == ("error", TypeError) and got[3] is None, got
        check(outcome(lambda: _veltrane.ping(1)), ("value", 2))
        assert func() in (PROJECT_VERSION, "release")
