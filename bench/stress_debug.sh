#!/bin/bash
# The leak and thread checks of bench/stress.py on CPython 3.15's debug
# interpreter, the one that counts references: the module is built against
# python3.15d (an ABI of its own) in a scratch directory and run there.
#
#   bench/stress_debug.sh --calls 100000 --seconds 60     (long form)
#   bench/stress_debug.sh --calls 2000 --seconds 5        (what the test command runs)
#
# Outside the Debian unstable root it enters the root first (tools/py315-root.sh).
set -euo pipefail

if [ ! -x /usr/bin/python3.15d ]; then
    repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    exec "$repo/tools/py315-root.sh" run "$repo" bash /src/bench/stress_debug.sh "$@"
fi

src=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
b=$(mktemp -d /tmp/veltrane-dbg.XXXXXX)
trap 'rm -rf "$b"' EXIT
cmake -S "$src" -B "$b/build" -DPython_EXECUTABLE=/usr/bin/python3.15d -DCMAKE_BUILD_TYPE=Release \
    >"$b/cmake.log" 2>&1 || { cat "$b/cmake.log"; exit 1; }
cmake --build "$b/build" -j"$(nproc)" --target _veltrane _engine >"$b/build.log" 2>&1 \
    || { tail -n 40 "$b/build.log"; exit 1; }
cmake --install "$b/build" --prefix "$b/site" >/dev/null
cd "$b" && PYTHONDONTWRITEBYTECODE=1 PYTHONPATH="$b/site" python3.15d "$src/bench/stress.py" "$@"
