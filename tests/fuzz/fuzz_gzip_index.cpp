// libFuzzer target: the gzip index's survey on arbitrary files, against a
// plain whole-file inflate (tests/core/gzip_model.hpp).
//
// The first bytes choose the spacing, the chunk size the file is fed in, and
// whether the rest is the file itself or a text to gzip first (one or two
// members at a chosen level and strategy, with flush points, then maybe one
// byte damaged and zeros or garbage appended): raw bytes reach the refusals,
// built files the checkpoints. The survey must accept exactly what the model
// decodes, with its size; from every checkpoint the reader must give the
// model's text from there on. Any difference, or a sanitizer report, is a
// finding.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "gzip_index/reader.hpp"
#include "gzip_drive.hpp"
#include "gzip_model.hpp"

namespace {

namespace gi = veltrane::gzip_index;
using gzip_model::Bytes;

[[noreturn]] void finding(const char* what, std::uint64_t detail) {
    std::fprintf(stderr, "gzip index differs from the model: %s (%llu)\n", what, static_cast<unsigned long long>(detail));
    std::abort();
}

Bytes built_file(const std::uint8_t* in, std::size_t size, std::uint8_t mode) {
    if (size < 6) return Bytes(in, in + size);
    static const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
    gzip_model::MemberOptions options{in[0] % 10, strategies[in[1] % 5], {}};
    const std::string text(reinterpret_cast<const char*>(in + 6), size - 6);
    for (std::size_t i = 0; i < (in[2] & 7); ++i) {
        options.flushes.push_back({text.size() * (i + 1) / 8, in[2] & 8 ? Z_FULL_FLUSH : Z_SYNC_FLUSH});
    }
    Bytes file = gzip_model::gzip_member(text, options);
    if (mode & 8) {  // a second member: the text's second half, zeros before it
        file.resize(file.size() + in[3] % 4, 0);
        const Bytes second = gzip_model::gzip_member(text.substr(text.size() / 2), gzip_model::deflated(1));
        file.insert(file.end(), second.begin(), second.end());
    }
    if (mode & 16) file[(static_cast<std::size_t>(in[4]) << 8 | in[5]) % file.size()] ^= in[3] | 1;
    if (mode & 32) file.resize(file.size() + in[4] % 3, mode & 64 ? 'x' : 0);
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    if (size < 3) return -1;
    static const std::uint64_t spacings[] = {1, 2, 100, 4096, 32768, 100000, 1u << 20, ~std::uint64_t{0}};
    const std::uint64_t spacing = spacings[input[0] % 8];
    const std::size_t chunk = 1 + input[1] % 64 * (input[1] >= 128 ? 1024 : 1);
    const std::uint8_t mode = input[2];
    const Bytes file = mode & 1 ? built_file(input + 3, size - 3, mode) : Bytes(input + 3, input + size);

    const gi::SurveyResult result = gzip_drive::survey(file, spacing, chunk);
    const auto text = gzip_model::python_gzip_text(file);
    if (result.indexable() != text.has_value()) finding("acceptance", result.indexable());
    if (!text) return 0;
    if (result.size != text->size()) finding("size", result.size);
    std::uint64_t previous = 0;
    for (const gi::Checkpoint& c : result.checkpoints) {
        if (c.position <= previous || c.position >= text->size()) finding("position", c.position);
        if (c.position / spacing == previous / spacing) finding("two checkpoints for one multiple", c.position);
        previous = c.position;
        try {
            if (gzip_drive::read_from(file, c, chunk, chunk * 3 + 1) != text->substr(c.position)) finding("text from checkpoint", c.position);
        } catch (const gi::DataError&) {
            finding("reader refused the surveyed file", c.position);
        }
    }
    return 0;
}
