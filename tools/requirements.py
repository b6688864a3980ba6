#!/usr/bin/env python3
"""The package's requirements as pyproject.toml lists them, for the scripts that install them.

    tools/requirements.py GROUP...            pip's names, one per line
    tools/requirements.py --debian GROUP...   the Debian packages that carry them

GROUP is "run" for the package's own dependencies, or the name of one of its
optional-dependency groups ("test", "plot", ...). pyproject.toml is the one list;
the test command installs from it with pip, the CPython 3.15 root with apt.
"""
import pathlib
import re
import sys
import tomllib

PYPROJECT = pathlib.Path(__file__).resolve().parent.parent / "pyproject.toml"

# Where Debian's package name is not python3- followed by the project's name.
# dask's "distributed" extra is a package of its own in Debian. Debian builds pyarrow for its
# default python3 only, which the CPython 3.15 root is not: there the Parquet tests skip.
DEBIAN_NAMES: dict[str, list[str]] = {"dask": ["python3-dask", "python3-distributed"], "pyarrow": []}


def requirements(groups):
    """The requirements of these groups; a group that names the package's own extras brings theirs."""
    project = tomllib.loads(PYPROJECT.read_text())["project"]
    found = []
    for group in groups:
        for requirement in project["dependencies"] if group == "run" else project["optional-dependencies"][group]:
            own = re.fullmatch(rf"{project['name']}\[([^]]+)\]", requirement)
            found += requirements(own.group(1).split(",")) if own else [requirement]
    return found


def project_name(requirement):
    # "dask[distributed]>=2024" -> "dask"; the extras and versions are pip's concern.
    return re.match(r"[A-Za-z0-9._-]+", requirement).group(0).lower()


def debian_packages(requirement):
    name = project_name(requirement)
    return DEBIAN_NAMES.get(name, [f"python3-{name}"])


def main(argv):
    debian = argv[:1] == ["--debian"]
    groups = argv[1:] if debian else argv
    if not groups:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    names = []
    for requirement in requirements(groups):
        for name in debian_packages(requirement) if debian else [requirement]:
            if name not in names:
                names.append(name)
    print("\n".join(names))
    return 0


if __name__ == "__main__":
    raise SystemExit(main(sys.argv[1:]))
