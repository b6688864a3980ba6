# Sourced by the project's scripts: makes sure the build's system packages are there.
# libsodium's, libdivsufsort's and zlib's development files and pkg-config are all the
# build needs beyond a compiler.
ensure_system_deps() {
    local missing=()
    command -v pkg-config >/dev/null || missing+=(pkg-config)
    pkg-config --exists libsodium 2>/dev/null || missing+=(libsodium-dev)
    pkg-config --exists libdivsufsort libdivsufsort64 2>/dev/null || missing+=(libdivsufsort-dev)
    pkg-config --exists zlib 2>/dev/null || missing+=(zlib1g-dev)
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

# What the tests compare against besides Python packages: Debian's ent, and
# libbz2 itself (its development files), which the core tests and the fuzz
# targets hold bz2_length to.
ensure_test_deps() {
    local missing=()
    command -v ent >/dev/null || missing+=(ent)
    have_libbz2_dev || missing+=(libbz2-dev)
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" != 0 ]; then
        echo "veltrane: the tests compare with ${missing[*]} (for example: sudo apt-get install ${missing[*]})" >&2
        return 1
    fi
    echo "veltrane: installing ${missing[*]}" >&2
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}

# Debian's libbz2-dev has no pkg-config file: its header and linker name.
have_libbz2_dev() {
    local dir
    [ -f /usr/include/bzlib.h ] || return 1
    for dir in /usr/lib/*-linux-gnu /usr/lib64 /usr/lib /usr/local/lib; do
        [ -e "$dir/libbz2.so" ] && return 0
    done
    return 1
}

# clang with libFuzzer and the sanitizer runtimes, for the fuzz targets.
ensure_fuzz_deps() {
    fuzz_toolchain_works && return 0
    if [ "$(id -u)" != 0 ]; then
        echo "veltrane: the fuzzers need clang with its runtime libraries (for example: sudo apt-get install clang)" >&2
        return 1
    fi
    echo "veltrane: installing clang" >&2
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang >/dev/null
    if ! fuzz_toolchain_works; then
        # libFuzzer ships in the runtime package that clang only recommends.
        local major
        major=$(clang++ -dumpversion | cut -d. -f1)
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "libclang-rt-$major-dev" >/dev/null
    fi
    fuzz_toolchain_works || { echo "veltrane: clang cannot build a libFuzzer target" >&2; return 1; }
}

fuzz_toolchain_works() {
    command -v clang++ >/dev/null || return 1
    local probe
    probe=$(mktemp -d)
    printf '%s\n' '#include <cstddef>' '#include <cstdint>' \
        'extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }' >"$probe/probe.cpp"
    clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" >/dev/null 2>&1
    local rc=$?
    rm -rf "$probe"
    return $rc
}
