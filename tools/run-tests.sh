#!/usr/bin/env bash
# The whole test suite, in four stages:
#   1. the machine's CPython (3.11+): the package installed with pip into a fresh venv,
#      then the workers' wheel built and installed into a bare Debian root (needs root);
#   2. the same interpreter with the module built under AddressSanitizer and
#      UndefinedBehaviorSanitizer (any finding fails the run);
#   3. each libFuzzer target of the cores for a short while (clang, installed if missing);
#   4. CPython 3.15 in a Debian unstable root (needs root; made once per machine),
#      and a leak check of reference counts under its debug build.
# Stops at the first failing stage. Set VELTRANE_SKIP_315=1, VELTRANE_SKIP_ASAN=1,
# VELTRANE_SKIP_WHEEL=1 or VELTRANE_SKIP_FUZZ=1 to leave a stage out while iterating locally.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
python=${PYTHON:-python3}
work="$here/build/test"
mkdir -p "$work"

stage() { printf '\n==== %s ====\n' "$*"; }

# The package and its test requirements (pyproject.toml's "test" group) in a venv of
# its own. Everything pip prints goes to a log: only failures are shown.
host_venv() {
    local venv=$1
    if [ ! -x "$venv/bin/python" ]; then
        "$python" -m venv "$venv"
    fi
    "$venv/bin/python" -m pip install -q --upgrade pip >"$work/pip-install.log" 2>&1 \
        && "$venv/bin/python" -m pip install -q "$here[test]" >>"$work/pip-install.log" 2>&1 \
        || { tail -n 40 "$work/pip-install.log"; return 1; }
}

core_tests() {
    # The algorithms' own unit tests, without an interpreter.
    local build=$1; shift
    cmake -S "$here" -B "$build" -DVELTRANE_CORE_TESTS=ON "$@" >"$build.cmake.log" 2>&1 \
        || { cat "$build.cmake.log"; return 1; }
    cmake --build "$build" -j"$(nproc)" --target veltrane_core_tests >"$build.build.log" 2>&1 \
        || { tail -n 40 "$build.build.log"; return 1; }
    "$build/veltrane_core_tests"
}

. "$here/tools/system-deps.sh"
ensure_system_deps
ensure_test_deps
vpy="$work/venv/bin/python"
host_venv "$work/venv"

stage "host CPython: $("$vpy" -c 'import sys; print(sys.version.split()[0])') (pip install .[test])"
core_tests "$work/core" -DPython_EXECUTABLE="$vpy"
(cd "$work" && "$vpy" -m pytest -p no:cacheprovider "$here/tests" -q)

if [ "${VELTRANE_SKIP_WHEEL:-0}" != 1 ]; then
    # The build directory is the one pip just used: the wheel costs no new compile.
    stage "the workers' wheel: auditwheel-repaired, installed and run in a bare Debian root"
    PYTHON="$vpy" bash "$here/tools/build-wheel.sh"
    bash "$here/tools/test-wheel.sh"
fi

if [ "${VELTRANE_SKIP_ASAN:-0}" != 1 ]; then
    stage "host CPython under AddressSanitizer + UndefinedBehaviorSanitizer"
    asan_build="$work/asan"
    cmake -S "$here" -B "$asan_build" -DPython_EXECUTABLE="$vpy" -DVELTRANE_SANITIZE=ON \
        -DVELTRANE_CORE_TESTS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$asan_build.cmake.log" 2>&1 \
        || { cat "$asan_build.cmake.log"; exit 1; }
    cmake --build "$asan_build" -j"$(nproc)" >"$asan_build.build.log" 2>&1 || { tail -n 40 "$asan_build.build.log"; exit 1; }
    # Both native modules and the package, as one importable tree ahead of the venv's copy.
    rm -rf "$asan_build/site"
    cmake --install "$asan_build" --prefix "$asan_build/site" >/dev/null
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ASAN_OPTIONS=detect_leaks=0 "$asan_build/veltrane_core_tests"
    libasan=$(g++ -print-file-name=libasan.so)
    libubsan=$(g++ -print-file-name=libubsan.so)
    # The interpreter itself is not instrumented: preload the runtimes, let every
    # allocation go through malloc, and leave the interpreter's own leaks alone.
    (cd "$work" && env LD_PRELOAD="$libasan $libubsan" PYTHONMALLOC=malloc \
        ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        VELTRANE_UNDER_SANITIZER=1 PYTHONPATH="$asan_build/site" \
        "$vpy" -m pytest -p no:cacheprovider "$here/tests" -q)
fi

if [ "${VELTRANE_SKIP_FUZZ:-0}" != 1 ]; then
    stage "libFuzzer targets, ${VELTRANE_FUZZ_SECONDS:-20} s each (long form: bench/run_fuzzers.sh)"
    PYTHON="$vpy" VELTRANE_FUZZ_BUILD="$work/fuzz" "$here/bench/run_fuzzers.sh" "${VELTRANE_FUZZ_SECONDS:-20}"
fi

if [ "${VELTRANE_SKIP_315:-0}" != 1 ]; then
    stage "CPython 3.15 (Debian unstable root)"
    # The root is shared by every checkout on the machine: each run builds in a
    # directory of its own, so two checkouts can test at once.
    "$here/tools/py315-root.sh" run "$here" bash -ec '
        b=$(mktemp -d /tmp/veltrane-build.XXXXXX)
        trap "rm -rf $b" EXIT
        cmake -S /src -B $b/build -DPython_EXECUTABLE=/usr/bin/python3.15 -DVELTRANE_CORE_TESTS=ON >$b/cmake.log 2>&1 \
            || { cat $b/cmake.log; exit 1; }
        cmake --build $b/build -j"$(nproc)" >$b/build.log 2>&1 || { tail -n 40 $b/build.log; exit 1; }
        cmake --install $b/build --prefix $b/site >/dev/null
        $b/build/veltrane_core_tests
        # Reference counts, read from the debug interpreter (its own ABI: a build of its own).
        echo "reference-count leak check under python3.15d (long form: bench/stress_debug.sh)"
        bash /src/bench/stress_debug.sh --calls 2000 --seconds 5 >$b/dbg-stress.log 2>&1 || { cat $b/dbg-stress.log; exit 1; }
        tail -n 2 $b/dbg-stress.log
        # The package and both native modules, installed by CMake into one tree.
        # Last, so that the output ends with the pytest summary line.
        cd $b && PYTHONDONTWRITEBYTECODE=1 PYTHONPATH=$b/site python3.15 -m pytest -p no:cacheprovider /src/tests -q
    '
fi
