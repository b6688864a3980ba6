# Sourced by the project's scripts: makes sure the build's system packages are there.
# libsodium's development files and pkg-config are all the build needs beyond a compiler.
ensure_system_deps() {
    local missing=()
    pkg-config --exists libsodium 2>/dev/null || missing+=(libsodium-dev pkg-config)
    command -v g++ >/dev/null || missing+=(g++)
    command -v nm >/dev/null || missing+=(binutils)
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" != 0 ]; then
        echo "veltrane: please install ${missing[*]} (for example: sudo apt-get install ${missing[*]})" >&2
        return 1
    fi
    echo "veltrane: installing ${missing[*]}" >&2
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}
