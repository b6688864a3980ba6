"""The module tree as Python sees it: names, doc strings, members, import rules."""
import ctypes
import importlib.util
import json
import pathlib
import shutil
import subprocess
import sys

import pytest

import _veltrane
from _veltrane import min_entropy, shannon_entropy, strings_frag
from conftest import PROJECT_VERSION
from conversion_model import Index

# What callers may rely on, kept exactly: module docs and __all__, function signatures and doc strings.
SURFACE = json.loads((pathlib.Path(__file__).parent / "data" / "native_module.json").read_text(encoding="utf-8"))
MODULES = {"_veltrane": _veltrane, "shannon_entropy": shannon_entropy, "min_entropy": min_entropy,
           "strings_frag": strings_frag}
FUNCTIONS = [(getattr(MODULES[f["module"]], f["name"]), f["signature"], "\n".join(f["doc"]))
             for f in SURFACE["functions"]]
ALL = {MODULES[m["name"]]: m["all"] for m in SURFACE["modules"]}
DOCS = {m["name"]: m["doc"] for m in SURFACE["modules"]}


@pytest.mark.parametrize("function, signature, doc", FUNCTIONS, ids=lambda v: getattr(v, "__name__", None))
def test_signature_and_doc(function, signature, doc):
    assert function.__text_signature__ == signature
    assert function.__doc__ == doc


@pytest.mark.parametrize("module, names", ALL.items(), ids=lambda v: getattr(v, "__name__", None))
def test_members_and_all(module, names):
    assert module.__all__ == names
    assert type(module.__all__) is list
    for name in names:
        member = getattr(module, name)
        if callable(member):
            assert member.__module__ == module.__name__
            assert member.__self__ is module
            assert member.__name__ == name


def test_module_names_and_docs():
    for name, module in MODULES.items():
        assert (module.__name__, module.__doc__) == (name, DOCS[name])
    assert strings_frag.__doc__ == ""  # an empty doc string, not None
    # The root's members are the submodules first, then the functions, in this order.
    assert [n for n in vars(_veltrane) if n in ALL[_veltrane]] == ALL[_veltrane]


def test_root_functions():
    assert _veltrane.version() == PROJECT_VERSION
    assert _veltrane.profile() == "release"
    for function in (_veltrane.version, _veltrane.profile):
        with pytest.raises(TypeError):
            function(1)
        with pytest.raises(TypeError):
            function(x=1)


@pytest.mark.parametrize(
    "x, expected",
    [(0, 0), (21, 42), (True, 2), (2**63, 0), (2**64 - 1, 2**64 - 2), (2**63 + 5, 10), (Index(5), 10)],
)
def test_ping_wraps_modulo_2_64(x, expected):
    assert _veltrane.ping(x) == expected
    assert _veltrane.ping(x=x) == expected


@pytest.mark.parametrize("x, error", [(-1, OverflowError), (2**64, OverflowError), (1.5, TypeError), ("1", TypeError)])
def test_ping_rejects(x, error):
    with pytest.raises(error) as info:
        _veltrane.ping(x)
    assert info.value.__notes__ == ["while processing 'x'"]


def test_submodules_are_not_importable_by_dotted_name():
    assert "_veltrane.shannon_entropy" not in sys.modules
    with pytest.raises(ModuleNotFoundError):
        __import__("_veltrane.shannon_entropy")
    from _veltrane import shannon_entropy as again

    assert again is shannon_entropy
    for sub in (shannon_entropy, min_entropy, strings_frag):
        assert sub.__name__ not in sys.modules or sys.modules[sub.__name__] is not sub


def test_reimport_shares_the_submodules(python_child):
    out = python_child(
        """
        import sys, _veltrane
        first = _veltrane
        subs = (first.shannon_entropy, first.min_entropy, first.strings_frag)
        del sys.modules["_veltrane"]
        import _veltrane as second
        assert second is not first
        assert (second.shannon_entropy, second.min_entropy, second.strings_frag) == subs
        assert all(a is b for a, b in zip(subs, (second.shannon_entropy, second.min_entropy, second.strings_frag)))
        assert second.shannon_entropy.__all__ == ["measure_entropy", "measure_metric_entropy",
                                                  "measure_normalized_metric_entropy"]
        assert second.__all__ == first.__all__
        print("ok")
        """
    )
    assert out.strip() == "ok"


@pytest.mark.parametrize("name", ["shannon_entropy", "min_entropy", "strings_frag"])
def test_submodule_loads_as_top_level_module(name):
    module_spec = importlib.util.spec_from_file_location(name, _veltrane.__file__)
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    attached = getattr(_veltrane, name)
    assert module is not attached
    assert module.__name__ == name
    assert module.__all__ == attached.__all__
    assert module.__doc__ == attached.__doc__
    for member in module.__all__:
        function = getattr(module, member)
        assert function is not getattr(attached, member)
        assert function.__self__ is module
    if name == "shannon_entropy":
        assert module.measure_entropy(b"hello world") == attached.measure_entropy(b"hello world")


def test_classic_initialisation_builds_the_same_module():
    # Whatever path the interpreter prefers, PyInit_<name> must hand over a
    # definition that builds the same module.
    library = ctypes.PyDLL(_veltrane.__file__)
    init = library.PyInit_min_entropy
    init.restype = ctypes.c_void_p  # a static PyModuleDef: never let ctypes own a reference to it
    definition = init()
    api = ctypes.pythonapi
    api.PyModule_FromDefAndSpec2.restype = ctypes.py_object
    api.PyModule_FromDefAndSpec2.argtypes = [ctypes.c_void_p, ctypes.py_object, ctypes.c_int]
    api.PyModule_ExecDef.argtypes = [ctypes.py_object, ctypes.c_void_p]
    module_spec = importlib.machinery.ModuleSpec("min_entropy", None)
    module = api.PyModule_FromDefAndSpec2(definition, module_spec, 1013)
    assert api.PyModule_ExecDef(module, definition) == 0
    assert module.__all__ == ["measure_entropy"]
    assert module.__doc__ == "Min entropy algorithm module"
    assert module.measure_entropy(b"aab") == min_entropy.measure_entropy(b"aab")


@pytest.mark.skipif(shutil.which("nm") is None, reason="needs binutils' nm")
def test_exports_only_the_entry_points():
    listing = subprocess.run(["nm", "-D", "--defined-only", _veltrane.__file__], capture_output=True, text=True,
                             check=True, timeout=120).stdout
    symbols = sorted(line.split()[-1] for line in listing.splitlines() if line.strip())
    names = ["_veltrane", "min_entropy", "shannon_entropy", "strings_frag"]
    assert symbols == sorted([f"PyInit_{n}" for n in names] + [f"PyModExport_{n}" for n in names])


SUBINTERPRETER_MESSAGE = (
    "veltrane modules do not yet support subinterpreters, see https://github.com/veltrane/veltrane/issues/1"
)


@pytest.mark.skipif(sys.version_info < (3, 13), reason="legacy subinterpreter configs arrived in 3.13")
def test_subinterpreter_import_fails(python_child):
    out = python_child(
        """
        import _interpreters, _veltrane
        interp = _interpreters.create(_interpreters.new_config("legacy"))
        failure = _interpreters.exec(interp, "import _veltrane")
        _interpreters.destroy(interp)
        print(failure.type.__name__)
        print(failure.msg)
        """
    )
    kind, message = out.strip().split("\n", 1)
    assert kind == "ImportError"
    assert message == SUBINTERPRETER_MESSAGE


def test_bad_call_leaves_no_trace():
    with pytest.raises(TypeError):
        shannon_entropy.measure_entropy(5)
    assert shannon_entropy.measure_entropy(b"ab") == 1.0
    with pytest.raises(OverflowError):
        _veltrane.ping(-1)
    assert _veltrane.ping(4) == 8
