// For the gzip index's tests and fuzz target: gzip files built with zlib's own
// deflate (levels, strategies, flush points, several members, zero padding),
// and a plain model of what Python's gzip module makes of a file, written the
// direct way: one fresh gzip stream per member, the whole rest of the file
// handed over at once, no block-by-block stepping.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace gzip_model {

using Bytes = std::vector<std::uint8_t>;

struct MemberOptions {
    int level = 6;
    int strategy = Z_DEFAULT_STRATEGY;
    // Text positions where the compressor flushes, and how (Z_SYNC_FLUSH, Z_FULL_FLUSH).
    std::vector<std::pair<std::size_t, int>> flushes;
};

inline MemberOptions deflated(int level, int strategy = Z_DEFAULT_STRATEGY,
                              std::vector<std::pair<std::size_t, int>> flushes = {}) {
    return MemberOptions{level, strategy, std::move(flushes)};
}

// One gzip member of `text`, as zlib's deflate writes it.
inline Bytes gzip_member(const std::string& text, const MemberOptions& options) {
    z_stream s{};
    if (deflateInit2(&s, options.level, Z_DEFLATED, 15 + 16, 8, options.strategy) != Z_OK) {
        throw std::runtime_error("deflateInit2 failed");
    }
    Bytes out(deflateBound(&s, text.size()) + 64 + 16 * options.flushes.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    std::size_t at = 0;
    auto deflate_to = [&](std::size_t end, int flush) {
        s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data() + at));
        s.avail_in = static_cast<uInt>(end - at);
        const int status = deflate(&s, flush);
        // A flush right after another one has nothing to do: zlib says Z_BUF_ERROR.
        const bool done = flush == Z_FINISH ? status == Z_STREAM_END : status == Z_OK || status == Z_BUF_ERROR;
        if (!done || s.avail_in != 0) {
            throw std::runtime_error("deflate did not take its input");
        }
        at = end;
    };
    for (const auto& [position, kind] : options.flushes) deflate_to(position, kind);
    deflate_to(text.size(), Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

// What Python's gzip module decodes `file` to, or nothing where it raises:
// members back to back, zero bytes skipped after each (not before the first),
// every member's CRC and length checked, an empty file an empty text. Headers
// are judged as zlib judges them: the one difference from Python, which lets a
// bad header CRC or reserved flag bits pass, is on the refusing side.
inline std::optional<std::string> python_gzip_text(const Bytes& file) {
    std::string text;
    std::size_t at = 0;
    for (bool first = true;; first = false) {
        if (!first) {
            while (at < file.size() && file[at] == 0) ++at;
        }
        if (at == file.size()) return text;
        z_stream s{};
        if (inflateInit2(&s, 15 + 16) != Z_OK) throw std::runtime_error("inflateInit2 failed");
        s.next_in = const_cast<Bytef*>(file.data() + at);
        s.avail_in = static_cast<uInt>(file.size() - at);
        int status = Z_OK;
        char buffer[1 << 14];
        while (status == Z_OK) {
            s.next_out = reinterpret_cast<Bytef*>(buffer);
            s.avail_out = sizeof buffer;
            status = inflate(&s, Z_NO_FLUSH);
            text.append(buffer, sizeof buffer - s.avail_out);
        }
        at = file.size() - s.avail_in;
        inflateEnd(&s);
        if (status != Z_STREAM_END) return std::nullopt;
    }
}

// Text kinds: random bytes, JSON-like lines that repeat a lot, one byte over
// and over, and a short pattern repeated.
enum class Kind { random_bytes, lines, one_byte, pattern };

inline std::string text_of(Kind kind, std::size_t size, std::mt19937_64& random) {
    std::string s;
    s.reserve(size + 64);
    switch (kind) {
        case Kind::random_bytes:
            while (s.size() < size) s.push_back(static_cast<char>(random()));
            break;
        case Kind::lines: {
            static const char* words[] = {"alpha", "beta", "gamma", "delta", "entropy", "window", "block", "text"};
            while (s.size() < size) {
                s += "{\"id\": " + std::to_string(random() % 100000) + ", \"text\": \"";
                for (int w = static_cast<int>(random() % 12); w >= 0; --w) s += std::string(words[random() % 8]) + ' ';
                s += "\"}\n";
            }
            break;
        }
        case Kind::one_byte:
            s.assign(size, 'z');
            break;
        case Kind::pattern: {
            const std::string unit = std::to_string(random()) + "|";
            while (s.size() < size) s += unit;
            break;
        }
    }
    s.resize(size);
    return s;
}

}  // namespace gzip_model
