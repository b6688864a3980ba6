"""A small model of how the native module converts its arguments, and the odd objects that probe it.

The model says what an argument means in clean form (bytes, a text, an int, a
bool) or which exception converting it raises, with its exact message. It uses
only the language's own protocols and the C API functions the conversion rules
name, called through ctypes (which re-raises what they raise), so the
interpreter's own wording holds on every CPython. Standard library only: the
leak checks import it on a debug interpreter that has no numpy.
"""
import ctypes
import operator


def _capi(name, restype):
    func = getattr(ctypes.pythonapi, name)
    func.argtypes, func.restype = [ctypes.py_object], restype
    return func


PyLong_AsLong = _capi("PyLong_AsLong", ctypes.c_long)
PyLong_AsUnsignedLongLong = _capi("PyLong_AsUnsignedLongLong", ctypes.c_ulonglong)
PySequence_Check = _capi("PySequence_Check", ctypes.c_int)


class Refusal:
    """The model's verdict: converting the argument raises an exception of this type, with this message."""

    def __init__(self, error):
        self.type = type(error)
        self.message = str(error)

    def __repr__(self):
        return f"Refusal({self.type.__name__}: {self.message!r})"


# ---------------------------------------------------------------- the model


def cast_failure(obj, target):
    if obj is None:
        return TypeError(f"'None' is not an instance of '{target}'")
    return TypeError(f"'{type(obj).__qualname__}' object is not an instance of '{target}'")


def describe(exc):
    try:
        return f"{type(exc).__qualname__}: {exc}"
    except Exception:
        return f"{type(exc).__qualname__}: <exception str() failed>"


def enum_message(str_failure, bytes_failure):
    lines = ["failed to extract enum BytesOrStr ('Str | Bytes')"]
    for variant, failure in (("Str", str_failure), ("Bytes", bytes_failure)):
        chain = [f"TypeError: failed to extract field BytesOrStr::{variant}.0"]
        while failure is not None:
            chain.append(describe(failure))
            failure = failure.__cause__
        lines.append(f"- variant {variant} ({variant}): " + ", caused by ".join(chain))
    return "\n".join(lines)


def item_to_byte(item):
    value = PyLong_AsLong(item)
    if not 0 <= value <= 255:
        raise OverflowError("out of range integral type conversion attempted")
    return value


def model_data(obj, for_search=False):
    """What `data` means: its bytes (a text's UTF-8 bytes, or the text itself for the search), or a Refusal."""
    if isinstance(obj, str):
        try:
            encoded = str.encode(obj, "utf-8")
        except UnicodeEncodeError as exc:
            return Refusal(TypeError(enum_message(exc, TypeError("Can't extract `str` to `Vec`"))))
        return str.__str__(obj) if for_search else encoded
    try:
        if isinstance(obj, (bytes, bytearray)):
            return bytes(memoryview(obj))  # the contents, whatever the subclass says
        if not PySequence_Check(obj):
            raise cast_failure(obj, "Sequence")
        if type(obj) is memoryview:
            memoryview(obj)  # a released view refuses here, as iterating it should
        return bytes([item_to_byte(item) for item in iter(obj)])
    except Exception as exc:
        return Refusal(TypeError(enum_message(cast_failure(obj, "str"), exc)))


def model_u64(obj):
    try:
        return PyLong_AsUnsignedLongLong(obj if isinstance(obj, int) else operator.index(obj))
    except Exception as exc:
        return Refusal(exc)


def is_numpy_bool_type(kind):
    # Only the module and the name of the type identify numpy's boolean.
    return getattr(kind, "__module__", None) == "numpy" and kind.__name__ in ("bool_", "bool")


def model_bool(obj):
    if type(obj) is bool:
        return obj
    if not is_numpy_bool_type(type(obj)):
        return Refusal(cast_failure(obj, "bool"))
    if getattr(type(obj), "__bool__", None) is None:
        # bool() would fall back to True; the conversion refuses.
        return Refusal(TypeError(f"object of type '{type(obj)}' does not define a '__bool__' conversion"))
    try:
        return bool(obj)
    except Exception as exc:
        return Refusal(exc)


# ---------------------------------------------------------------- odd objects


class Seq:
    """A plain old-style sequence, read through __getitem__ until IndexError."""

    def __init__(self, items):
        self.items = list(items)

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


class Index:
    """An integer-like object: __index__ returns `answer`, or calls it, or raises it.

    An exception (class or instance) is raised afresh on every call, so notes
    added by one conversion never pile up on the next.
    """

    def __init__(self, answer):
        self.answer = answer

    def __index__(self):
        answer = self.answer
        if isinstance(answer, type) and issubclass(answer, BaseException):
            raise answer("no index")
        if isinstance(answer, BaseException):
            raise type(answer)(*answer.args)
        return answer() if callable(answer) else answer


def raising(exc_type, *args):
    def method(*_):
        raise exc_type(*args)  # a fresh exception per call
    return method


class Unprintable(Exception):
    __str__ = raising(RuntimeError, "no text")


def hostile(**methods):
    """A sequence of 1, 2, 3 whose named dunder methods are replaced."""
    return type("Hostile", (Seq,), methods)([1, 2, 3])
