#!/usr/bin/env bash
# Installs veltrane into ./.venv (with the system packages its build needs) and
# runs the demo on a few inputs.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/tools/system-deps.sh"
ensure_system_deps
python=${PYTHON:-python3}
[ -x "$here/.venv/bin/python" ] || "$python" -m venv "$here/.venv"
"$here/.venv/bin/python" -m pip install -q --upgrade pip
"$here/.venv/bin/python" -m pip install -q "$here"
exec "$here/.venv/bin/python" "$here/examples/demo.py" "$@"
