#!/usr/bin/env bash
# A Debian unstable root that carries CPython 3.15 with the test packages, made once per
# machine and reused by every checkout. Needs root (debootstrap, chroot, mounts).
#
#   tools/py315-root.sh ensure            create the root if it is not complete yet
#   tools/py315-root.sh run SRC CMD...    run CMD inside it, SRC bind-mounted read-only at /src
set -euo pipefail

ROOT=${VELTRANE_PY315_ROOT:-/var/cache/veltrane/sid-py315}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# python3.15-dbg: the debug interpreter, whose sys.gettotalrefcount() the leak check reads;
# then the package's own and its tests' requirements, as Debian packages (one list:
# pyproject.toml), and the build's tools.
mapfile -t REQUIREMENTS < <(python3 "$here/tools/requirements.py" --debian run test)
[ ${#REQUIREMENTS[@]} -gt 0 ] || { echo "py315-root: no requirements read from pyproject.toml" >&2; exit 1; }
PACKAGES=(python3.15-dev python3.15-dbg "${REQUIREMENTS[@]}"
          g++ cmake make pkg-config libsodium-dev libdivsufsort-dev zlib1g-dev libbz2-dev binutils ent)
# The stamp names the package list: a checkout that needs other packages adds them
# to the shared root in place, without taking it away from checkouts using it.
STAMP="$ROOT/.veltrane-packages-$(printf '%s\n' "${PACKAGES[@]}" | sort | sha256sum | cut -c1-16)"

. "$here/tools/debian-mirror.sh"

ensure_host_tools() {
    command -v debootstrap >/dev/null && return
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
}

install_packages() {
    # The unstable index on the mirror may be past its validity date.
    chroot "$ROOT" /usr/bin/env DEBIAN_FRONTEND=noninteractive bash -c "
        apt-get -o Acquire::Check-Valid-Until=false update -qq &&
        apt-get install -y -qq --no-install-recommends ${PACKAGES[*]}" >>"$ROOT.log" 2>&1 \
        || { tail -n 20 "$ROOT.log" >&2; echo "py315-root: package install failed (log: $ROOT.log)" >&2; exit 1; }
}

ensure() {
    [ -e "$STAMP" ] && return 0
    mkdir -p "$(dirname "$ROOT")"
    # Two checkouts building at once must not debootstrap into the same folder.
    exec 9>"$ROOT.lock"
    flock 9
    [ -e "$STAMP" ] && return 0
    if compgen -G "$ROOT/.veltrane-complete-*" >/dev/null || compgen -G "$ROOT/.veltrane-packages-*" >/dev/null; then
        # A complete root of another package list: add the packages in place rather
        # than rebuild it under checkouts that may be using it.
        echo "py315-root: adding packages to $ROOT" >&2
        install_packages
        touch "$STAMP"
        return 0
    fi
    ensure_host_tools
    rm -rf "$ROOT"
    echo "py315-root: creating $ROOT (about a minute)" >&2
    debootstrap --variant=minbase sid "$ROOT" "$(mirror)" >"$ROOT.log" 2>&1 \
        || { tail -n 20 "$ROOT.log" >&2; echo "py315-root: debootstrap failed (log: $ROOT.log)" >&2; exit 1; }
    cp /etc/resolv.conf "$ROOT/etc/resolv.conf" 2>/dev/null || true
    install_packages
    touch "$ROOT/.veltrane-complete-v1" "$STAMP"
}

run() {
    local src=$1; shift
    ensure
    mkdir -p "$ROOT/src" "$ROOT/proc" "$ROOT/dev"
    # A private mount namespace drops the mounts when the command ends, however it ends.
    unshare --mount --propagation private bash -c '
        set -e
        root=$1; src=$2; shift 2
        mount -t proc proc "$root/proc"
        mount --rbind /dev "$root/dev"
        mount --bind "$src" "$root/src"
        mount -o remount,bind,ro "$root/src"
        exec chroot "$root" /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin HOME=/root LANG=C.UTF-8 "$@"
    ' _ "$ROOT" "$(realpath "$src")" "$@"
}

case "${1:-}" in
    ensure) ensure ;;
    run) shift; [ $# -ge 2 ] || { echo "usage: $0 run SRC CMD..." >&2; exit 2; }; run "$@" ;;
    *) echo "usage: $0 ensure | run SRC CMD..." >&2; exit 2 ;;
esac
