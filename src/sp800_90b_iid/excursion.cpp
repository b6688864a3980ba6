#include "sp800_90b_iid/excursion.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace veltrane::sp800_90b::iid {

namespace {

// The search in double for the places that come within its rounding of the
// largest |S_i - i * mean| so far (new records, and returns to a record, which
// the half-integers of binary data make common); only those are computed again
// in long double, where a pass of x87 arithmetic would cost a millisecond.
class NearBest {
public:
    NearBest(std::size_t n, double mean)
        // The double steps round once each, at magnitudes below 256 n.
        : mean_(mean), slack_(4.0 * 0x1p-53 * 256.0 * (static_cast<double>(n) + 1.0)) {}

    double threshold() const noexcept { return best_ - slack_; }

    // Place i (1-based) with prefix sum `sum`, whose |S_i - i * mean| in double is x.
    void offer(std::int64_t i, std::int64_t sum, double x) {
        if (x < best_ - slack_) return;
        best_ = std::max(best_, x);
        if (places_.size() == 4096) fold();
        places_.push_back({i, sum, x});
    }

    double result() {
        fold();
        return static_cast<double>(exact_);
    }

private:
    struct Place {
        std::int64_t i, sum;
        double x;
    };
    // Folding a place in early is harmless: one that ends below the best takes
    // no part in the maximum. It keeps the list short where the walk stays level
    // (constant samples).
    void fold() {
        for (const Place& p : places_) {
            if (p.x < best_ - slack_) continue;
            const long double at = static_cast<long double>(p.sum) - static_cast<long double>(p.i) * mean_;
            exact_ = std::max(exact_, std::fabs(at));
        }
        places_.clear();
    }

    double mean_, slack_, best_ = 0.0;
    long double exact_ = 0.0L;
    std::vector<Place> places_;
};

// Signed integers: they turn into doubles in one instruction, unsigned 64-bit
// ones in a dozen. Returns the prefix sum at the end.
std::int64_t scan(const std::uint8_t* raw, std::int64_t from, std::int64_t to, std::int64_t sum, double mean,
                  NearBest& near) {
    for (std::int64_t i = from; i < to; ++i) {
        sum += raw[i];
        const double x = std::fabs(static_cast<double>(sum) - static_cast<double>(i + 1) * mean);
        if (x >= near.threshold()) [[unlikely]] near.offer(i + 1, sum, x);
    }
    return sum;
}

#if defined(__x86_64__)
bool has_avx2() noexcept {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}

// Eight samples a step: their prefix sums in 32-bit lanes (n * 255 < 2^31),
// the same double arithmetic as the scan four lanes at a time, and the scan's
// own check for the rare lanes near the best.
[[gnu::target("avx2")]] std::int64_t scan_vector(const std::uint8_t* raw, std::int64_t count, double mean,
                                                 NearBest& near, std::int64_t& done) {
    const __m256d m = _mm256_set1_pd(mean), sign = _mm256_set1_pd(-0.0), eight = _mm256_set1_pd(8.0);
    const __m256i last = _mm256_set1_epi32(7), third = _mm256_set1_epi32(3);
    __m256i base = _mm256_setzero_si256();
    __m256d index_low = _mm256_setr_pd(1.0, 2.0, 3.0, 4.0), index_high = _mm256_setr_pd(5.0, 6.0, 7.0, 8.0);
    std::int64_t i = 0;
    for (; i + 8 <= count; i += 8) {
        __m256i x = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(raw + i)));
        x = _mm256_add_epi32(x, _mm256_slli_si256(x, 4));
        x = _mm256_add_epi32(x, _mm256_slli_si256(x, 8));
        // The low half's total carries into the high half, the step before's into both.
        x = _mm256_add_epi32(x, _mm256_blend_epi32(_mm256_setzero_si256(), _mm256_permutevar8x32_epi32(x, third), 0xF0));
        x = _mm256_add_epi32(x, base);
        base = _mm256_permutevar8x32_epi32(x, last);
        const __m256d sums_low = _mm256_cvtepi32_pd(_mm256_castsi256_si128(x));
        const __m256d sums_high = _mm256_cvtepi32_pd(_mm256_extracti128_si256(x, 1));
        const __m256d low = _mm256_andnot_pd(sign, _mm256_sub_pd(sums_low, _mm256_mul_pd(index_low, m)));
        const __m256d high = _mm256_andnot_pd(sign, _mm256_sub_pd(sums_high, _mm256_mul_pd(index_high, m)));
        const __m256d threshold = _mm256_set1_pd(near.threshold());
        const int hits = _mm256_movemask_pd(_mm256_cmp_pd(low, threshold, _CMP_GE_OQ)) |
                         _mm256_movemask_pd(_mm256_cmp_pd(high, threshold, _CMP_GE_OQ)) << 4;
        if (hits != 0) [[unlikely]] {
            alignas(32) std::int32_t sums[8];
            alignas(32) double xs[8];
            _mm256_store_si256(reinterpret_cast<__m256i*>(sums), x);
            _mm256_store_pd(xs, low);
            _mm256_store_pd(xs + 4, high);
            for (int lane = 0; lane < 8; ++lane) {
                if (hits >> lane & 1) near.offer(i + lane + 1, sums[lane], xs[lane]);
            }
        }
        index_low = _mm256_add_pd(index_low, eight);
        index_high = _mm256_add_pd(index_high, eight);
    }
    done = i;
    return _mm256_extract_epi32(base, 0);
}
#endif

}  // namespace

double excursion_one_by_one(const std::uint8_t* raw, std::size_t n, double mean) {
    NearBest near(n, mean);
    scan(raw, 0, static_cast<std::int64_t>(n), 0, mean, near);
    return near.result();
}

double excursion(const std::uint8_t* raw, std::size_t n, double mean) {
#if defined(__x86_64__)
    if (has_avx2() && n < std::numeric_limits<std::int32_t>::max() / 256) {
        NearBest near(n, mean);
        std::int64_t done = 0;
        const std::int64_t sum = scan_vector(raw, static_cast<std::int64_t>(n), mean, near, done);
        scan(raw, done, static_cast<std::int64_t>(n), sum, mean, near);
        return near.result();
    }
#endif
    return excursion_one_by_one(raw, n, mean);
}

}  // namespace veltrane::sp800_90b::iid
