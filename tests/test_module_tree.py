"""The module tree as Python sees it: names, doc strings, members, import rules."""
import ctypes
import importlib.util
import shutil
import subprocess
import sys

import pytest

import _veltrane
from _veltrane import min_entropy, shannon_entropy, strings_frag

FIND_DOC_BODY = "\n".join(
    [
        "在字符串或字节序列中寻找出现次数至少为 `t` 次的不重叠片段。",
        "",
        "本函数会穷举输入数据中所有可能的连续子片段，并计算每个片段在数据中**不重叠**出现的次数。",
        "最终按照 `(总覆盖长度, 片段长度, 出现次数)` 降序排列并返回前 `count` 个片段。",
        "",
        "## 索引规则",
        "- 传入 **字符串** (`str`) 时：返回的区间索引按 **Unicode 字符 (char)** 计数。",
        "- 传入 **字节序列** (`bytes`, `bytearray`, `Sequence[int]`) 时：返回的区间索引按 **字节 (byte)** 计数。",
        "",
        "## 参数",
        "- `data`: 输入的字符串或字节数据。",
        "- `count`: 最多返回的片段数量 (例如 `100`)。",
        "- `times`: 每个片段最少需要的非重叠出现次数 (例如 `2`)。",
        "- `global_non_overlap`:",
        "  - `false`: 仅要求**同一个片段**内部的多次出现互不重叠。",
        "  - `true`: 额外要求**不同片段之间**占据的位置也互不重叠（按优先级保留先选中的片段）。",
        "",
        "## 返回值",
        "```python",
        "list[dict[str, int | list[dict[str, int]]]]",
        "Example: [{'id': 0, 'occurrences': [{'start': 0, 'end': 17}]}]",
        "```",
    ]
)

# (function, text signature, doc string without the signature lines)
FUNCTIONS = [
    (_veltrane.ping, "(x)", "test function\n\nreturn x * 2"),
    (_veltrane.version, "()", "package version"),
    (_veltrane.profile, "()", '获取本模块的构建模式\n\n返回值: `"debug" | "release"`'),
    (
        shannon_entropy.measure_entropy,
        "(data)",
        "计算数据的香农熵 (Shannon entropy).\n\n衡量数据的随机性/信息密度：`H = -sum(p * log2(p))`.\n\n"
        "返回值：通常在 `0.0..=8.0` bits 之间。若数据为空则返回 `0.0`。",
    ),
    (
        shannon_entropy.measure_metric_entropy,
        "(data)",
        "计算标准的度量香农熵 (Metric Shannon entropy).\n\n将香农熵按 `8-bit` 最大 theoretical 熵 (`8.0` bits) "
        "进行归一化。\n\n返回值：通常在 `0.0..=1.0` 之间。",
    ),
    (
        shannon_entropy.measure_normalized_metric_entropy,
        "(data)",
        "规范化缩放的香农熵 (Normalized Shannon entropy)。\n\n完全随机数据的返回值紧密分布在 `1.0` 周围。\n\n"
        "返回值：通常在 `0.0..=1.0` 之间。有些故意编写的数据会导致结果超过 `1.0`。",
    ),
    (
        min_entropy.measure_entropy,
        "(data)",
        "计算数据的最小熵 (Min-entropy: H_infinity).\n\n最小熵表示预测最可能出现的字节所需的比特数：`H_inf = "
        "-log2(max(P))`.\n\n返回值：通常在 `0.0..=8.0` bits 之间。若数据为空则返回 `0.0`。",
    ),
    (strings_frag.find_non_overlapping_fragments, "(data, count, times, global_non_overlap)", FIND_DOC_BODY),
]

ALL = {
    _veltrane: ["shannon_entropy", "min_entropy", "strings_frag", "ping", "version", "profile"],
    shannon_entropy: ["measure_entropy", "measure_metric_entropy", "measure_normalized_metric_entropy"],
    min_entropy: ["measure_entropy"],
    strings_frag: ["find_non_overlapping_fragments"],
}


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
    assert _veltrane.__name__ == "_veltrane"
    assert _veltrane.__doc__ == "`veltrane` root module"
    assert (shannon_entropy.__name__, shannon_entropy.__doc__) == ("shannon_entropy", "Shannon entropy algorithm module")
    assert (min_entropy.__name__, min_entropy.__doc__) == ("min_entropy", "Min entropy algorithm module")
    assert (strings_frag.__name__, strings_frag.__doc__) == ("strings_frag", "")
    # The root's members are the submodules first, then the functions, in this order.
    assert [n for n in vars(_veltrane) if n in ALL[_veltrane]] == ALL[_veltrane]


def test_root_functions():
    assert _veltrane.version() == "0.1.6"
    assert _veltrane.profile() == "release"
    for function in (_veltrane.version, _veltrane.profile):
        with pytest.raises(TypeError):
            function(1)
        with pytest.raises(TypeError):
            function(x=1)


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


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
                             check=True).stdout
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
