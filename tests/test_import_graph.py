"""The package's modules import one another without a cycle.

The graph is read from the source with `ast`: every import statement counts,
those inside functions and under TYPE_CHECKING too, since a cycle that only an
import deferred into a function keeps from failing is still a knot in the
layering. The package __init__ that Python runs before a module of the package
is not an edge of that module's making and is left out; a module imported by a
name computed at run time would be invisible here, so there must be none.
"""
import ast
import pathlib

import veltrane

ROOT = pathlib.Path(veltrane.__file__).parent


def module_name(path):
    parts = list(path.relative_to(ROOT.parent).parts)
    parts[-1] = parts[-1].split(".")[0]  # _engine.cpython-311-x86_64-linux-gnu.so is _engine
    if parts[-1] == "__init__":
        parts.pop()
    return ".".join(parts)


def package_of(path, name):
    return name if path.name == "__init__.py" else name.rpartition(".")[0]


def imported(path, name, modules):
    """The package's modules that `path` (module `name`) names in its imports."""
    found = set()
    for node in ast.walk(ast.parse(path.read_text(encoding="utf-8"), str(path))):
        if isinstance(node, ast.Import):
            found.update(alias.name for alias in node.names)
        elif isinstance(node, ast.ImportFrom):
            if node.level:
                base = package_of(path, name).split(".")
                base = base[: len(base) - (node.level - 1)]
                target = ".".join(base + ([node.module] if node.module else []))
            else:
                target = node.module
            # `from P import M` imports module P.M when there is one; names of P otherwise.
            subs = {f"{target}.{alias.name}" for alias in node.names} & modules
            found.update(subs or {target})
    return found & modules


def import_graph():
    """{module: the package's modules it imports}; a compiled module (its stub in a source tree) imports none."""
    paths = {module_name(p): p for p in sorted(ROOT.rglob("*.py"))}
    compiled = {module_name(p) for suffix in ("*.so", "*.pyi") for p in ROOT.rglob(suffix)} - set(paths)
    modules = set(paths) | compiled
    graph = {name: sorted(imported(path, name, modules) - {name}) for name, path in paths.items()}
    return graph | {name: [] for name in compiled}


def find_cycle(graph):
    """One cycle of `graph` as a list of names that starts and ends with the same one, or None."""
    state = {}  # absent: not seen; 1: on the current path; 2: done, no cycle through it
    path = []

    def visit(node):
        state[node] = 1
        path.append(node)
        for nxt in graph[node]:
            if state.get(nxt) == 1:
                return path[path.index(nxt):] + [nxt]
            if nxt not in state:
                cycle = visit(nxt)
                if cycle:
                    return cycle
        path.pop()
        state[node] = 2
        return None

    for start in sorted(graph):
        if start not in state:
            cycle = visit(start)
            if cycle:
                return cycle
    return None


def test_finding_cycles_on_small_graphs():
    assert find_cycle({"a": ["b"], "b": ["c"], "c": []}) is None
    assert find_cycle({"a": ["b", "c"], "b": ["d"], "c": ["d"], "d": []}) is None  # a diamond is no cycle
    assert find_cycle({"a": ["b"], "b": ["c"], "c": ["a"]}) == ["a", "b", "c", "a"]
    assert find_cycle({"a": ["b"], "b": ["c"], "c": ["b"]}) == ["b", "c", "b"]
    assert find_cycle({"a": [], "x": ["y"], "y": ["x"]}) == ["x", "y", "x"]


def test_the_graph_sees_relative_and_deferred_imports():
    graph = import_graph()
    assert "veltrane.cli.activity" in graph["veltrane.cli"]  # from .activity import ...
    assert "veltrane._measures" in graph["veltrane.cli.ent"]  # from .._measures import ...
    assert "veltrane.min_entropy" in graph["veltrane"]  # from . import min_entropy
    assert graph["veltrane._measures"] == ["veltrane._engine", "veltrane._types"]  # the compiled engine, not the root
    assert "veltrane.cli.inputs" in graph["veltrane._scan_many"]  # inside a function


def test_no_module_is_imported_by_a_computed_name():
    for path in sorted(ROOT.rglob("*.py")):
        for node in ast.walk(ast.parse(path.read_text(encoding="utf-8"))):
            if isinstance(node, ast.Call):
                called = node.func.attr if isinstance(node.func, ast.Attribute) else getattr(node.func, "id", "")
                assert called not in ("import_module", "__import__"), f"{path.name}:{node.lineno}"


def test_the_package_has_no_import_cycle():
    cycle = find_cycle(import_graph())
    assert cycle is None, "import cycle: " + " -> ".join(cycle)
