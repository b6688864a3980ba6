import os
import pathlib
import subprocess
import sys
import textwrap
import tomllib

import pytest

import _veltrane
from children import WAIT_SECONDS
from deadline import time_limit

UNDER_SANITIZER = os.environ.get("VELTRANE_UNDER_SANITIZER") == "1"

# The version is written once, in pyproject.toml; the module must report that one.
PROJECT_VERSION = tomllib.loads((pathlib.Path(__file__).parent.parent / "pyproject.toml").read_text())["project"][
    "version"]


def run_python(code, env=None, timeout=120):
    """Runs `code` in a fresh interpreter that imports the same module; returns stdout."""
    full_env = dict(os.environ)
    module_dir = os.path.dirname(_veltrane.__file__)
    full_env["PYTHONPATH"] = module_dir + os.pathsep + full_env.get("PYTHONPATH", "")
    for name in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS"):
        full_env.pop(name, None)
    full_env.update(env or {})
    done = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        env=full_env,
        capture_output=True,
        text=True,
        timeout=timeout,
    )
    if done.returncode != 0:
        raise AssertionError(f"child failed ({done.returncode}):\n{done.stdout}\n{done.stderr}")
    return done.stdout


@pytest.fixture
def python_child():
    return run_python


class CliDone:
    """What one in-process run of the command line left: its exit status and both outputs."""

    def __init__(self, returncode, stdout, stderr):
        self.returncode, self.stdout, self.stderr = returncode, stdout, stderr


@pytest.fixture
def run_cli(capsys):
    """Runs `veltrane ARGS...` in this process (so that it sees this process's memory:// files)."""
    from veltrane.cli import main

    def run(*args):
        capsys.readouterr()
        with time_limit(WAIT_SECONDS, f"veltrane {' '.join(map(str, args))}"):
            code = main([str(arg) for arg in args])
        out, err = capsys.readouterr()
        return CliDone(code, out, err)

    return run
