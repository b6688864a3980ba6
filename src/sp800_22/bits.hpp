// One sequence of bits, packed 64 to a word with the first bit in the most
// significant place, and the two ways data becomes sequences: raw bytes, most
// significant bit first, or ASCII '0'/'1' text with white space between.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace veltrane::sp800_22 {

class Bits {
public:
    Bits() = default;
    // n zero bits.
    explicit Bits(std::uint64_t n) : n_(n), words_(n / 64 + 2, 0) {}

    std::uint64_t size() const noexcept { return n_; }
    std::uint64_t word_count() const noexcept { return (n_ + 63) / 64; }
    const std::uint64_t* words() const noexcept { return words_.data(); }
    std::uint64_t* words() noexcept { return words_.data(); }

    unsigned bit(std::uint64_t i) const noexcept { return static_cast<unsigned>(words_[i >> 6] >> (63 - (i & 63))) & 1; }
    // The 64 bits from bit i on, bit i in the most significant place; zeros past the end.
    std::uint64_t window(std::uint64_t i) const noexcept {
        const unsigned s = i & 63;
        const std::uint64_t* w = words_.data() + (i >> 6);
        return s == 0 ? w[0] : (w[0] << s) | (w[1] >> (64 - s));
    }
    std::uint64_t ones() const noexcept;

    // The sequence followed by `extra` more bits, going round it again (and
    // again, for more than n), for the tests that read windows cyclically.
    Bits wrapped(unsigned extra) const;
    // Bits [begin, begin + count) as a sequence of their own.
    Bits slice(std::uint64_t begin, std::uint64_t count) const;

private:
    std::uint64_t n_ = 0;
    std::vector<std::uint64_t> words_;  // two spare words, always zero past n
};

// n bits of raw bytes from bit `first` on (first bit of a byte: its most significant).
Bits bits_from_bytes(const std::uint8_t* data, std::uint64_t first, std::uint64_t n);

// The number of '0' and '1' characters in ASCII text. Throws std::invalid_argument
// naming the first byte that is neither a digit 0 or 1 nor white space.
std::uint64_t ascii_digits(const std::uint8_t* data, std::size_t size);

// n bits of ASCII text read from byte `offset` on, white space skipped; returns
// the offset just past the n-th digit. The text must hold them (ascii_digits).
std::size_t bits_from_ascii(const std::uint8_t* data, std::size_t size, std::size_t offset, std::uint64_t n,
                            Bits& out);

}  // namespace veltrane::sp800_22
