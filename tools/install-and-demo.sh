#!/usr/bin/env bash
# Installs veltrane into ./.venv (with the system packages its build needs) and runs
# its command line, the main job: a scan of some of the repository's files, a CSV scan
# of a directory, and the entropy profile of a generated file (text, random bytes,
# zeros) whose edges land on its boundaries. Extra arguments are scanned as well.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/tools/system-deps.sh"
ensure_system_deps
python=${PYTHON:-python3}
[ -x "$here/.venv/bin/python" ] || "$python" -m venv "$here/.venv"
"$here/.venv/bin/python" -m pip install -q --upgrade pip
"$here/.venv/bin/python" -m pip install -q "$here"
veltrane="$here/.venv/bin/veltrane"
demo=$(mktemp -d)
trap 'rm -rf "$demo"' EXIT
"$here/.venv/bin/python" "$here/examples/make_layers.py" "$demo/layers.bin"

cd "$here"
echo "\$ veltrane scan --fragments 3 README.md LICENSE $*"
"$veltrane" scan --fragments 3 README.md LICENSE "$@"
echo
echo "\$ veltrane scan --csv src/binding"
"$veltrane" scan --csv src/binding
echo
echo "\$ veltrane profile layers.bin --window 4K    # 96 KiB text, 160 KiB random, 64 KiB zeros"
"$veltrane" profile "$demo/layers.bin" --window 4K
echo
echo "\$ python examples/demo.py"
"$here/.venv/bin/python" "$here/examples/demo.py"
