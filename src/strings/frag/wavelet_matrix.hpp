// A wavelet matrix over a sequence of values below 2^bits, answering "the
// smallest value >= y among the entries in rows [lo, hi)" without touching the
// entries one by one.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "pool/cancel.hpp"
#include "util/popcount.hpp"


namespace veltrane::strings::frag {

template <class I>
class WaveletMatrix {
public:
    static constexpr I NONE = std::numeric_limits<I>::max();


    // O(n * bits) time, about 2 * n * bits bits of memory. Both passes of a
    // level are branch-free: the bits of sorted positions are as good as random.
    // Empty: the structure is built only once it pays (see OccurrenceChooser).
    WaveletMatrix() = default;
    WaveletMatrix(const I* values, std::size_t n, unsigned bits) : bits_(bits) {
        levels_.resize(bits);
        std::vector<I> current(values, values + n), next(n);
        for (unsigned level = 0; level < bits; ++level) {
            pool::checkpoint();
            const unsigned shift = bits - 1 - level;
            Level& lv = levels_[level];
            lv.words.assign(n / 64 + 1, Word{0, 0});
            std::uint64_t ones = 0;
            for (std::size_t w = 0; w * 64 < n; ++w) {
                const std::size_t begin = w * 64, end = std::min(n, begin + 64);
                std::uint64_t word = 0;
                for (std::size_t i = begin; i < end; ++i) {
                    word |= static_cast<std::uint64_t>((current[i] >> shift) & 1) << (i - begin);
                }
                lv.words[w] = Word{word, ones};
                ones += static_cast<std::uint64_t>(std::popcount(word));
            }
            if (n % 64 == 0) lv.words[n / 64].ones_before = ones;
            lv.zeros = n - ones;
            // Stable partition: zeros keep their order at the front, ones behind them.
            std::size_t z = 0, o = lv.zeros;
            for (std::size_t i = 0; i < n; ++i) {
                const I v = current[i];
                const std::size_t bit = static_cast<std::size_t>((v >> shift) & 1);
                next[bit ? o : z] = v;
                o += bit;
                z += bit ^ 1;
            }
            current.swap(next);
        }
    }

    // Smallest value >= y among rows [lo, hi), or NONE. O(bits).
    I next_value(std::size_t lo, std::size_t hi, I y) const {
#if VELTRANE_POPCNT_DISPATCH
        if (util::HARDWARE_POPCOUNT) return next_value_popcnt(lo, hi, y);
#endif
        return next_value_body(lo, hi, y);
    }

private:
#if VELTRANE_POPCNT_DISPATCH
    // Most x86-64 processors count bits in one instruction, but the baseline
    // instruction set has none; the searches are mostly bit counting.
    [[gnu::target("popcnt")]] I next_value_popcnt(std::size_t lo, std::size_t hi, I y) const {
        return next_value_body(lo, hi, y);
    }
#endif

    [[gnu::always_inline]] inline I next_value_body(std::size_t lo, std::size_t hi, I y) const {
        if (lo >= hi) return NONE;
        if (bits_ < std::numeric_limits<I>::digits && (y >> bits_) != 0) return NONE;
        // Follow y's bits down; remember the deepest level where y has a 0 and
        // the 1-side is not empty: that is where a larger value branches off.
        std::size_t alt_level = bits_, alt_lo = 0, alt_hi = 0;
        I alt_prefix = 0, prefix = 0;
        for (unsigned level = 0; level < bits_; ++level) {
            const unsigned shift = bits_ - 1 - level;
            const Level& lv = levels_[level];
            const std::size_t ones_lo = lv.rank1(lo), ones_hi = lv.rank1(hi);
            if ((y >> shift) & 1) {
                lo = lv.zeros + ones_lo;
                hi = lv.zeros + ones_hi;
                prefix |= I{1} << shift;
            } else {
                if (ones_hi > ones_lo) {
                    alt_level = level;
                    alt_lo = lv.zeros + ones_lo;
                    alt_hi = lv.zeros + ones_hi;
                    alt_prefix = prefix | (I{1} << shift);
                }
                lo = lo - ones_lo;
                hi = hi - ones_hi;
            }
            if (lo >= hi) break;
        }
        if (lo < hi) return y;  // y itself is present
        if (alt_level == bits_) return NONE;
        // The smallest value of the 1-side found above: prefer 0 bits below it.
        lo = alt_lo;
        hi = alt_hi;
        prefix = alt_prefix;
        for (unsigned level = static_cast<unsigned>(alt_level) + 1; level < bits_; ++level) {
            const unsigned shift = bits_ - 1 - level;
            const Level& lv = levels_[level];
            const std::size_t ones_lo = lv.rank1(lo), ones_hi = lv.rank1(hi);
            const std::size_t zeros_in = (hi - lo) - (ones_hi - ones_lo);
            if (zeros_in > 0) {
                lo = lo - ones_lo;
                hi = hi - ones_hi;
            } else {
                lo = lv.zeros + ones_lo;
                hi = lv.zeros + ones_hi;
                prefix |= I{1} << shift;
            }
        }
        return prefix;
    }

    struct Word {
        std::uint64_t bits;
        std::uint64_t ones_before;
    };
    struct Level {
        std::vector<Word> words;
        std::size_t zeros = 0;
        // Number of 1 bits in rows [0, i).
        [[gnu::always_inline]] inline std::size_t rank1(std::size_t i) const {
            const Word& w = words[i / 64];
            const std::uint64_t mask = (std::uint64_t{1} << (i % 64)) - 1;
            return static_cast<std::size_t>(w.ones_before + static_cast<std::uint64_t>(std::popcount(w.bits & mask)));
        }
    };

    unsigned bits_ = 0;
    std::vector<Level> levels_;
};

}  // namespace veltrane::strings::frag
