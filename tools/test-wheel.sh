#!/usr/bin/env bash
# Installs dist/veltrane-*.whl (tools/build-wheel.sh) with pip into a fresh venv inside a
# minimal Debian bookworm root that has Python but no compiler and no libsodium, offline
# from a wheelhouse of the wheel and its dependencies, and runs `veltrane scan` there.
# Needs root (debootstrap, chroot); the root is made once per machine under
# /var/cache/veltrane and reused, the venv is made afresh on every run.
#
#   bash tools/test-wheel.sh [WHEEL]
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
ROOT=${VELTRANE_WHEEL_ROOT:-/var/cache/veltrane/bookworm-wheel}
wheel=${1:-$(ls "$here"/dist/veltrane-*.whl 2>/dev/null | head -n1)}
[ -f "$wheel" ] || { echo "test-wheel: no wheel; run tools/build-wheel.sh first" >&2; exit 1; }
. "$here/tools/debian-mirror.sh"

ensure_root() {
    [ -e "$ROOT/.veltrane-complete-v1" ] && return 0
    mkdir -p "$(dirname "$ROOT")"
    exec 9>"$ROOT.lock"
    flock 9
    [ -e "$ROOT/.veltrane-complete-v1" ] && return 0
    command -v debootstrap >/dev/null || { apt-get update -qq; DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null; }
    rm -rf "$ROOT"
    echo "test-wheel: creating $ROOT (a minute or two)" >&2
    debootstrap --variant=minbase --include=python3,python3-venv bookworm "$ROOT" "$(mirror)" >"$ROOT.log" 2>&1 \
        || { tail -n 20 "$ROOT.log" >&2; echo "test-wheel: debootstrap failed (log: $ROOT.log)" >&2; exit 1; }
    touch "$ROOT/.veltrane-complete-v1"
}

ensure_root
# The point of the exercise: nothing to build with and no libsodium but the wheel's own.
for tool in cc gcc g++ c++ clang; do
    [ ! -e "$ROOT/usr/bin/$tool" ] || { echo "test-wheel: $ROOT has a compiler ($tool)" >&2; exit 1; }
done
if find "$ROOT/usr" -name 'libsodium*' -print -quit | grep -q .; then
    echo "test-wheel: $ROOT has libsodium" >&2; exit 1
fi

# The wheel and its dependencies' wheels (tqdm): pip inside the root installs offline from them.
house=$(mktemp -d "$ROOT/tmp/wheelhouse.XXXXXX")
trap 'rm -rf "$house"' EXIT
cp "$wheel" "$house/"
tools="$here/build/wheel/tools"
[ -x "$tools/bin/python" ] || python3 -m venv "$tools"
"$tools/bin/python" -m pip download -q --only-binary=:all: --no-deps -d "$house" \
    $(python3 "$here/tools/requirements.py" run) >"$here/build/wheel/download.log" 2>&1 \
    || { tail -n 20 "$here/build/wheel/download.log"; exit 1; }
inside=${house#"$ROOT"}

mkdir -p "$ROOT/proc" "$ROOT/dev"
unshare --mount --propagation private bash -c '
    set -e
    root=$1; shift
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    exec chroot "$root" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/root LANG=C.UTF-8 "$@"
' _ "$ROOT" bash -ec '
    house=$1
    python3 -m venv "$house/venv"
    "$house/venv/bin/pip" install -q --no-index --find-links "$house" veltrane
    # Every byte value 1024 times: entropy exactly 8 bits, mean 127.5, chi-square 0.
    "$house/venv/bin/python" -c "import sys; sys.stdout.buffer.write(bytes(range(256)) * 1024)" >"$house/flat.bin"
    printf "veltrane on a worker, veltrane on a worker\n" >"$house/text.txt"
    "$house/venv/bin/veltrane" scan --json "$house/flat.bin" "$house/text.txt" >"$house/scan.jsonl"
    "$house/venv/bin/veltrane" scan "$house/flat.bin" "$house/text.txt"
    "$house/venv/bin/python" - "$house/scan.jsonl" <<PY
import json, sys
flat, text = (json.loads(line) for line in open(sys.argv[1]))
assert (flat["size"], flat["shannon_entropy"], flat["mean"], flat["chi_square"]) == (262144, 8.0, 127.5, 0.0), flat
assert text["repeats"]["lengths"][0] >= len("veltrane on a worker"), text["repeats"]
import _veltrane
libs = [line.split()[-1] for line in open("/proc/self/maps") if "libsodium" in line]
assert libs and all("veltrane.libs" in lib for lib in libs), libs
print("wheel test: installed without a compiler or libsodium; veltrane scan works; libsodium from", libs[0])
PY
' _ "$inside"
