// libFuzzer target: bz2_length's two entry points against libbz2 itself
// (BZ2_bzBuffToBuffCompress, work factor 30), one workspace kept across runs.
//
// A 4-byte header: the level (byte 0), whether the data is a text or samples
// (byte 1, bit 0), whether to tile the data up to about one or two blocks of
// level 1 (bits 1 to 5 all set, as tiled inputs are slow; then the level is 1), and where the tiled length stops
// relative to the block cut (bytes 2 and 3: a block count and an offset of
// -128..127 bytes). Samples are compared through their decimal text, which
// compressed_length must also agree on.
#include <bzlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bz2_length/bz2_length.hpp"
#include "bz2_length/format.hpp"
#include "reference_bz2.hpp"

namespace {

namespace bz = veltrane::bz2_length;
using Bytes = std::vector<std::uint8_t>;

std::uint64_t library_length(const Bytes& text, int level) {
    std::vector<char> out(text.size() + text.size() / 100 + 600);
    auto size = static_cast<unsigned>(out.size());
    char empty = 0;
    char* source = text.empty() ? &empty : reinterpret_cast<char*>(const_cast<std::uint8_t*>(text.data()));
    if (BZ2_bzBuffToBuffCompress(out.data(), &size, source, static_cast<unsigned>(text.size()), level, 0, 0) != BZ_OK) {
        std::fprintf(stderr, "bz2_length: libbz2 failed\n");
        std::abort();
    }
    return size;
}

[[noreturn]] void fail(const char* what, std::size_t n, int level, std::uint64_t want, std::uint64_t got) {
    std::fprintf(stderr, "bz2_length: %s differs (%zu bytes, level %d): libbz2 %llu, ours %llu\n", what, n, level,
                 (unsigned long long)want, (unsigned long long)got);
    std::abort();
}

bz::Workspace workspace;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    if (size < 4) return -1;
    const bool samples = input[1] & 1;
    const bool tile = (input[1] & 0x3e) == 0x3e && size > 4;
    const int level = tile ? 1 : 1 + input[0] % bz::MAX_LEVEL;
    Bytes data(input + 4, input + size);
    if (tile) {
        const long target = static_cast<long>(bz::block_capacity(1)) * (1 + input[2] % 2) + static_cast<std::int8_t>(input[3]);
        auto text_length = [&](std::uint8_t b) { return samples ? 1 + (b >= 100 ? 3 : b >= 10 ? 2 : 1) : 1; };
        long tail = 0;
        for (std::uint8_t b : data) tail += text_length(b);
        std::uint64_t state = 0x9e3779b97f4a7c15ull ^ (std::uint64_t{input[0]} << 8 | std::uint64_t{input[2]} << 16 |
                                                        std::uint64_t{input[3]} << 24);
        Bytes filled;
        for (long length = -1; length + tail < target;) {
            state ^= state << 13, state ^= state >> 7, state ^= state << 17;
            filled.push_back(static_cast<std::uint8_t>(state % (1u + input[0])));
            length += text_length(filled.back());
        }
        filled.insert(filled.end(), data.begin(), data.end());
        data.swap(filled);
    }
    if (samples) {
        const Bytes text = bz2_reference::decimal_text(data.data(), data.size());
        const std::uint64_t want = library_length(text, level);
        const std::uint64_t got = bz::decimal_text_length(data.data(), data.size(), level, workspace);
        if (got != want) fail("decimal_text_length", text.size(), level, want, got);
        const std::uint64_t as_text = bz::compressed_length(text.data(), text.size(), level, workspace);
        if (as_text != want) fail("compressed_length of the decimal text", text.size(), level, want, as_text);
    } else {
        const std::uint64_t want = library_length(data, level);
        const std::uint64_t got = bz::compressed_length(data.data(), data.size(), level, workspace);
        if (got != want) fail("compressed_length", data.size(), level, want, got);
    }
    return 0;
}
