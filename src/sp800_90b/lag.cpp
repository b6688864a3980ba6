// 6.3.8, the lag prediction estimate: subpredictor d (1..128) predicts the
// sample d places back, on a scoreboard. Predicted: every sample after the
// first (N = n - 1).
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "counters.hpp"
#include "estimators.hpp"
#include "packed_bits.hpp"
#include "pool/cancel.hpp"
#include "prediction_result.hpp"
#include "scoreboard.hpp"
#include "vector_support.hpp"
#if VELTRANE_SP800_VECTORS
#include <immintrin.h>
#endif

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
// word p / 64), once start >= LAGS: one xor per lag and block, or, with 512-bit
// vectors, one for eight lags, whose bits start - d .. start - d + 63 come out
// of the four words around them by a permute and a concatenating shift.
class PackedBits {
public:
    PackedBits(const std::uint8_t* data, std::size_t n, bool portable)
        : words_(packed_low_first(data, n)), vectors_(!portable && has_vectors()) {}
    // Bits p .. p+63.
    std::uint64_t at(std::size_t p) const {
        const std::size_t w = p / 64, b = p % 64;
        return b == 0 ? words_[w] : (words_[w] >> b) | (words_[w + 1] << (64 - b));
    }
    // The bits past len in the block are left for the scoreboard to ignore.
    void hits(std::size_t start, std::uint64_t* hits) const {
#if VELTRANE_SP800_VECTORS
        if (vectors_) return vector_hits(start, hits);
#endif
        const std::uint64_t now = at(start);
        for (unsigned d = 1; d <= LAGS; ++d) hits[d - 1] = ~(now ^ at(start - d));
    }

private:
#if VELTRANE_SP800_VECTORS
    [[gnu::target(VELTRANE_SP800_VECTOR_TARGET)]] void vector_hits(std::size_t start, std::uint64_t* hits) const {
        static_assert(LAGS % 8 == 0 && LAGS <= 128);
        const std::size_t base = (start - LAGS) / 64;  // the lags' bits lie in words base .. base + 3
        const __m512i words = _mm512_maskz_loadu_epi64(0x0F, words_.data() + base);
        const __m512i now = _mm512_set1_epi64(static_cast<long long>(at(start)));
        const __m512i from = _mm512_set1_epi64(static_cast<long long>(start));
        const __m512i first = _mm512_set1_epi64(static_cast<long long>(base));
        const __m512i low6 = _mm512_set1_epi64(63), one = _mm512_set1_epi64(1);
        __m512i lag = _mm512_setr_epi64(1, 2, 3, 4, 5, 6, 7, 8);
        for (unsigned d = 0; d < LAGS; d += 8, lag = _mm512_add_epi64(lag, _mm512_set1_epi64(8))) {
            const __m512i at = _mm512_sub_epi64(from, lag);
            // (the zero-masking forms: GCC 12 warns of the plain ones' undefined source)
            const __m512i word = _mm512_sub_epi64(_mm512_maskz_srli_epi64(0xFF, at, 6), first);
            const __m512i low = _mm512_maskz_permutexvar_epi64(0xFF, word, words);
            const __m512i high = _mm512_maskz_permutexvar_epi64(0xFF, _mm512_add_epi64(word, one), words);
            const __m512i then = _mm512_shrdv_epi64(low, high, _mm512_and_si512(at, low6));
            _mm512_storeu_si512(hits + d, _mm512_ternarylogic_epi64(now, then, now, 0x99));  // not (now xor then)
        }
    }
#endif

    std::vector<std::uint64_t> words_;
    bool vectors_;
};

}  // namespace

Prediction lag(Symbols s) { return lag(s, false); }

Prediction lag(Symbols s, bool portable) {
    const std::size_t n = s.n > 1 ? s.n - 1 : 0;
    CorrectTally tally;
    if (n > 0) {
        const bool binary = s.k == 2;
        const PackedBits packed(s.data, binary ? s.n : 0, portable);
        Scoreboard board(LAGS, portable);
        std::uint64_t hits[LAGS];
        for (std::size_t start = 1; start < s.n; start += 64) {
            const auto len = static_cast<unsigned>(std::min<std::size_t>(64, s.n - start));
            if (binary && start >= LAGS) {
                packed.hits(start, hits);
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
