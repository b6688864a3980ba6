// 6.3.8, the lag prediction estimate: subpredictor d (1..128) predicts the
// sample d places back, on a scoreboard. Predicted: every sample after the
// first (N = n - 1).
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "estimators.hpp"
#include "packed_bits.hpp"
#include "pool/cancel.hpp"
#include "prediction_result.hpp"
#include "scoreboard.hpp"

namespace veltrane::sp800_90b {

namespace {

constexpr unsigned LAGS = 128;

// Bit t of hits[d-1]: data[start+t] == data[start+t-d] (no hit before the start).
void byte_hits(const std::uint8_t* data, std::size_t start, unsigned len, std::uint64_t* hits) {
#ifdef __SSE2__
    // A full block past the first LAGS samples: 16 comparisons an instruction.
    if (len == 64 && start >= LAGS) {
        __m128i now[4];
        for (unsigned q = 0; q < 4; ++q) now[q] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + start + 16 * q));
        for (unsigned d = 1; d <= LAGS; ++d) {
            std::uint64_t m = 0;
            for (unsigned q = 0; q < 4; ++q) {
                const __m128i then = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + start - d + 16 * q));
                m |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(now[q], then))))
                     << (16 * q);
            }
            hits[d - 1] = m;
        }
        return;
    }
#endif
    for (unsigned d = 1; d <= LAGS; ++d) {
        std::uint64_t m = 0;
        for (unsigned t = 0; t < len; ++t) {
            const std::size_t i = start + t;
            m |= std::uint64_t{i >= d && data[i] == data[i - d]} << t;
        }
        hits[d - 1] = m;
    }
}

// The same for bits packed 64 to a word (bit p of the sequence is bit p % 64 of
// word p / 64), once start >= LAGS: one xor per lag and block.
class PackedBits {
public:
    PackedBits(const std::uint8_t* data, std::size_t n) : words_(packed_low_first(data, n)) {}
    // Bits p .. p+63.
    std::uint64_t at(std::size_t p) const {
        const std::size_t w = p / 64, b = p % 64;
        return b == 0 ? words_[w] : (words_[w] >> b) | (words_[w + 1] << (64 - b));
    }
    void hits(std::size_t start, unsigned len, std::uint64_t* hits) const {
        const std::uint64_t mask = len == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << len) - 1;
        const std::uint64_t now = at(start);
        for (unsigned d = 1; d <= LAGS; ++d) hits[d - 1] = ~(now ^ at(start - d)) & mask;
    }

private:
    std::vector<std::uint64_t> words_;
};

}  // namespace

Prediction lag(Symbols s) {
    const std::size_t n = s.n > 1 ? s.n - 1 : 0;
    CorrectTally tally;
    if (n > 0) {
        const bool binary = s.k == 2;
        const PackedBits packed(s.data, binary ? s.n : 0);
        Scoreboard board(LAGS);
        std::uint64_t hits[LAGS];
        for (std::size_t start = 1; start < s.n; start += 64) {
            const auto len = static_cast<unsigned>(std::min<std::size_t>(64, s.n - start));
            if (binary && start >= LAGS) {
                packed.hits(start, len, hits);
            } else {
                byte_hits(s.data, start, len, hits);
            }
            tally.add(board.play(hits, len), len);
            pool::checkpoint();
        }
    }
    return prediction_result(tally, n, s.k);
}

}  // namespace veltrane::sp800_90b
