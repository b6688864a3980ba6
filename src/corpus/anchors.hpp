// Anchors: for every window of min_length bytes, one position inside it that
// only the window's first t = min_length / 2 bytes decide, and a fingerprint
// of the min_length - t bytes from there. Two windows with equal bytes pick
// the anchor at the same offset with the same fingerprint, so equal
// fingerprints at two positions are the only way a window can repeat: the
// repeat search keeps the regions around them, and the deduplication on a
// cluster shuffles them to find which windows may repeat across shards.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "corpus/corpus_text.hpp"
#include "pool/cancel.hpp"

namespace veltrane::corpus::anchors {

inline constexpr std::uint64_t GRAM = 8;

inline std::uint64_t load(const std::uint8_t* p) {
    std::uint64_t x;
    std::memcpy(&x, p, sizeof x);
    return x;
}

// A bijection of 64-bit values that spreads every input bit over the output:
// distinct grams keep distinct hashes, and the smallest hash of a window is
// no function of a byte's value alone.
inline std::uint64_t mix(std::uint64_t x) {
    x ^= x >> 31;
    x *= 0x9E3779B97F4A7C15ull;
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ull;
    return x ^ (x >> 32);
}

// The bytes an anchor stands for, hashed: equal bytes, equal fingerprints.
// Unequal ones may collide, which only makes more windows look repeatable.
inline std::uint64_t fingerprint(const std::uint8_t* p, std::uint64_t length) {
    std::uint64_t h = length, i = 0;
    for (; i + GRAM <= length; i += GRAM) h = mix(h ^ load(p + i));
    if (i < length) {
        std::uint64_t tail = 0;
        std::memcpy(&tail, p + i, length - i);
        h = mix(h ^ tail);
    }
    return h;
}

struct Sampling {
    std::uint64_t length;  // min_length, at least 2 * GRAM
    std::uint64_t t;       // bytes per window that decide the anchor
    std::uint64_t w;       // grams per window
    std::uint64_t f;       // bytes an anchor stands for

    static Sampling of(std::uint64_t min_length) {
        const std::uint64_t t = min_length / 2;
        return {min_length, t, t - GRAM + 1, min_length - t};
    }
};

// Calls found(anchor, fingerprint, first, stop) for the anchors of the windows
// of s.length bytes (inside a document) that start in [from, to), in order of
// position: the windows [first, stop) are those that pick `anchor`, each
// anchor once per run of windows (an anchor is never picked again once the
// windows have passed it).
template <class Found>
void for_each_anchor(const CorpusText& text, const Sampling& s, std::uint64_t from, std::uint64_t to, Found&& found) {
    std::size_t capacity = 1;
    while (capacity < s.w + 1) capacity *= 2;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ring(capacity);  // (hash, gram), ascending hashes
    const std::size_t mask = capacity - 1;
    for_each_window_run(text, s.length, from, to, [&](std::uint64_t first, std::uint64_t stop) {
        std::size_t head = 0, tail = 0;
        std::uint64_t next_gram = first, last = UINT64_MAX, run_first = first;
        // An anchor's bytes lie in its window when s.f <= s.length - s.t + GRAM. With longer ones (a window's
        // first half standing for the whole window) they are cut at the run's last byte, which changes only
        // the fingerprints of anchors that no window of that length covers, and never reads past the text.
        const std::uint64_t bytes_end = stop - 1 + s.length;
        const auto fingerprint_at = [&](std::uint64_t a) {
            return fingerprint(text.bytes + a, std::min(s.f, bytes_end - a));
        };
        for (std::uint64_t y = first; y < stop; ++y) {
            if ((y & 0xFFFF) == 0) pool::checkpoint();
            for (; next_gram < y + s.w; ++next_gram) {
                const std::uint64_t h = mix(load(text.bytes + next_gram));
                // Popping equal hashes keeps the rightmost of a window's smallest.
                while (tail > head && ring[(tail - 1) & mask].first >= h) --tail;
                ring[tail++ & mask] = {h, next_gram};
            }
            while (ring[head & mask].second < y) ++head;
            const std::uint64_t a = ring[head & mask].second;
            if (a != last) {
                if (last != UINT64_MAX) found(last, fingerprint_at(last), run_first, y);
                last = a;
                run_first = y;
            }
        }
        if (last != UINT64_MAX) found(last, fingerprint_at(last), run_first, stop);
    });
}

}  // namespace veltrane::corpus::anchors
