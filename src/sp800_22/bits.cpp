#include "sp800_22/bits.hpp"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "pool/cancel.hpp"
#include "util/popcount.hpp"

namespace veltrane::sp800_22 {

namespace {

bool is_space(std::uint8_t c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\v' || c == '\f'; }

// Eight characters at once: all of them '0' or '1'.
bool eight_digits(std::uint64_t chars) { return (chars & 0xFEFEFEFEFEFEFEFEull) == 0x3030303030303030ull; }

// The eight digits' bits, the first character's in the most significant place.
unsigned pack_eight(std::uint64_t chars) {
    // Little-endian load: the first character is the lowest byte. Gather the low
    // bit of every byte into the top byte, first character highest.
    const std::uint64_t low = chars & 0x0101010101010101ull;
    return static_cast<unsigned>((low * 0x8040201008040201ull) >> 56);
}

[[noreturn]] void refuse(std::uint8_t c, std::size_t at) {
    char text[160];
    if (c >= 0x20 && c < 0x7F) {
        std::snprintf(text, sizeof text, "ASCII bits are '0' and '1' with white space between, not '%c' (byte %zu)",
                      static_cast<char>(c), at);
    } else {
        std::snprintf(text, sizeof text,
                      "ASCII bits are '0' and '1' with white space between, not the byte 0x%02x (byte %zu)", c, at);
    }
    throw std::invalid_argument(text);
}

}  // namespace

std::uint64_t Bits::ones() const noexcept {
    std::uint64_t count = 0;
    for (std::uint64_t w = 0; w < word_count(); ++w) count += util::popcount64(words_[w]);
    return count;
}

Bits Bits::wrapped(unsigned extra) const {
    Bits out(n_ + extra);
    std::memcpy(out.words_.data(), words_.data(), word_count() * sizeof(std::uint64_t));
    // Windows longer than the sequence go round it more than once.
    for (unsigned i = 0; i < extra; ++i) {
        if (bit(i % n_)) out.words_[(n_ + i) >> 6] |= std::uint64_t{1} << (63 - ((n_ + i) & 63));
    }
    return out;
}

Bits Bits::slice(std::uint64_t begin, std::uint64_t count) const {
    Bits out(count);
    for (std::uint64_t w = 0; w < out.word_count(); ++w) out.words_[w] = window(begin + 64 * w);
    if (count % 64) out.words_[count / 64] &= ~std::uint64_t{0} << (64 - count % 64);
    return out;
}

Bits bits_from_bytes(const std::uint8_t* data, std::uint64_t first, std::uint64_t n) {
    Bits out(n);
    std::uint64_t* words = out.words();
    const std::uint8_t* start = data + first / 8;
    const unsigned shift = first % 8;
    const std::uint64_t bytes_needed = (shift + n + 7) / 8;
    const std::uint64_t whole = n / 64;
    for (std::uint64_t w = 0; w < whole; ++w) {
        if ((w & 0xFFF) == 0) pool::checkpoint();
        // Nine bytes cover 64 bits at any shift; the ninth only when there is one.
        std::uint64_t word = 0;
        for (unsigned b = 0; b < 8; ++b) word = (word << 8) | start[8 * w + b];
        if (shift) {
            const std::uint64_t next = 8 * w + 8 < bytes_needed ? start[8 * w + 8] : 0;
            word = (word << shift) | (next >> (8 - shift));
        }
        words[w] = word;
    }
    for (std::uint64_t i = whole * 64; i < n; ++i) {
        const std::uint64_t at = first + i;
        if ((data[at / 8] >> (7 - at % 8)) & 1) words[i / 64] |= std::uint64_t{1} << (63 - i % 64);
    }
    return out;
}

std::uint64_t ascii_digits(const std::uint8_t* data, std::size_t size) {
    std::uint64_t digits = 0;
    std::size_t i = 0;
    while (i < size) {
        if ((i & 0xFFFF) == 0) pool::checkpoint();
        if (i + 8 <= size) {
            std::uint64_t chars;
            std::memcpy(&chars, data + i, 8);
            if (eight_digits(chars)) {
                digits += 8;
                i += 8;
                continue;
            }
        }
        const std::uint8_t c = data[i];
        if (c == '0' || c == '1') {
            ++digits;
        } else if (!is_space(c)) {
            refuse(c, i);
        }
        ++i;
    }
    return digits;
}

std::size_t bits_from_ascii(const std::uint8_t* data, std::size_t size, std::size_t offset, std::uint64_t n,
                            Bits& out) {
    out = Bits(n);
    std::uint64_t* words = out.words();
    std::uint64_t filled = 0;
    std::size_t i = offset;
    while (filled < n) {
        if ((i & 0xFFFF) == 0) pool::checkpoint();
        if (i + 8 <= size && n - filled >= 8) {
            std::uint64_t chars;
            std::memcpy(&chars, data + i, 8);
            if (eight_digits(chars)) {
                const std::uint64_t byte = pack_eight(chars);
                const unsigned at = filled & 63;
                // Eight bits either fit the word or straddle two.
                words[filled >> 6] |= at <= 56 ? byte << (56 - at) : byte >> (at - 56);
                if (at > 56) words[(filled >> 6) + 1] |= byte << (120 - at);
                filled += 8;
                i += 8;
                continue;
            }
        }
        if (i >= size) throw std::invalid_argument("ASCII text holds fewer bits than asked for");
        const std::uint8_t c = data[i];
        if (c == '1') words[filled >> 6] |= std::uint64_t{1} << (63 - (filled & 63));
        if (c == '0' || c == '1') {
            ++filled;
        } else if (!is_space(c)) {
            refuse(c, i);
        }
        ++i;
    }
    return i;
}

}  // namespace veltrane::sp800_22
