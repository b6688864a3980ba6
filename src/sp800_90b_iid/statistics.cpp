#include "sp800_90b_iid/statistics.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "pool/cancel.hpp"
#include "sp800_90b_iid/bit_runs.hpp"
#include "sp800_90b_iid/excursion.hpp"
#include "sp800_90b_iid/sign_bits.hpp"

namespace veltrane::sp800_90b::iid {

namespace {

// The collision statistics: from each start, the samples up to and including
// the first one that repeats a value seen since the start; then on after it.
// A sequence without any repeat gives 0 for both (a case of a handful of
// samples only).
void collisions(const std::uint8_t* seq, std::size_t len, Values& values) {
    std::uint64_t stamp[256] = {};
    std::uint64_t segment = 1, start = 0, found = 0, total = 0, longest = 0;
    for (std::size_t j = 0; j < len; ++j) {
        const std::uint8_t v = seq[j];
        if (stamp[v] == segment) {
            const std::uint64_t length = j - start + 1;
            total += length;
            ++found;
            longest = std::max(longest, length);
            ++segment;
            start = j + 1;
        } else {
            stamp[v] = segment;
        }
    }
    values[AVG_COLLISION] = found == 0 ? 0.0 : static_cast<double>(total) / static_cast<double>(found);
    values[MAX_COLLISION] = static_cast<double>(longest);
}

// Sum of seq[i] * seq[i + lag]: blocks small enough for 32-bit partial sums,
// which the compiler turns into vector multiply-adds.
std::uint64_t lag_products(const std::uint8_t* seq, std::size_t len, std::size_t lag) {
    if (len <= lag) return 0;
    const std::size_t m = len - lag;
    constexpr std::size_t BLOCK = 16384;  // 16384 * 255^2 < 2^32
    std::uint64_t total = 0;
    for (std::size_t begin = 0; begin < m; begin += BLOCK) {
        const std::size_t end = std::min(m, begin + BLOCK);
        std::uint32_t part = 0;
        for (std::size_t i = begin; i < end; ++i) part += static_cast<std::uint32_t>(seq[i]) * seq[i + lag];
        total += part;
    }
    return total;
}

// The statistics of runs, periodicity and covariance. `seq` is the sequence the
// directional runs, periodicity and covariance read (the raw samples, or
// Conversion I of binary data); `median_bits` the median signs already built.
void neighbourly(const std::uint8_t* seq, std::size_t len, Mask wanted, Values& values, Scratch& scratch) {
    if (wanted & (bit(NUM_DIRECTIONAL_RUNS) | bit(LEN_DIRECTIONAL_RUNS) | bit(NUM_INCREASES_DECREASES))) {
        const std::size_t m = len == 0 ? 0 : len - 1;
        decrease_bits(seq, len, scratch.bits);
        const Runs r = runs_of_bits(scratch.bits.data(), m);
        values[NUM_DIRECTIONAL_RUNS] = static_cast<double>(r.count);
        values[LEN_DIRECTIONAL_RUNS] = static_cast<double>(r.longest);
        values[NUM_INCREASES_DECREASES] = static_cast<double>(std::max(r.ones, m - r.ones));
    }
    for (unsigned j = 0; j < LAGS.size(); ++j) {
        if (wanted & bit(PERIODICITY + j)) values[PERIODICITY + j] = static_cast<double>(equal_pairs(seq, len, LAGS[j]));
        if (wanted & bit(COVARIANCE + j)) values[COVARIANCE + j] = static_cast<double>(lag_products(seq, len, LAGS[j]));
    }
}

void median_runs(const std::vector<std::uint64_t>& bits, std::size_t n, Values& values) {
    const Runs r = runs_of_bits(bits.data(), n);
    values[NUM_RUNS_MEDIAN] = static_cast<double>(r.count);
    values[LEN_RUNS_MEDIAN] = static_cast<double>(r.longest);
}

constexpr Mask MEDIAN = bit(NUM_RUNS_MEDIAN) | bit(LEN_RUNS_MEDIAN);
constexpr Mask COLLISIONS = bit(AVG_COLLISION) | bit(MAX_COLLISION);

void binary_statistics(const SampleFacts& f, const std::uint8_t* raw, Mask wanted, Values& values, Scratch& s) {
    // The bits, one per sample: rank 1 or 0, 64 to a word. Conversion I counts
    // the ones of each byte of them. Conversion II reads each byte first bit
    // first; here bit 0 comes first, but the collisions compare values for
    // equality only, which the order of a byte's bits does not change.
    equal_bits(raw, f.n, f.alphabet.value[1], s.bits);
    if (wanted & MEDIAN) median_runs(s.bits, f.n, values);
    const std::size_t blocks = (f.n + 7) / 8;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(s.bits.data());
    s.conversion_1.resize(blocks);
    for (std::size_t j = 0; j < blocks; ++j) s.conversion_1[j] = ONES_IN_BYTE[bytes[j]];
    if (wanted & COLLISIONS) collisions(bytes, blocks, values);
    neighbourly(s.conversion_1.data(), blocks, wanted, values, s);
}

}  // namespace

void compute_statistics(const SampleFacts& f, const std::uint8_t* raw, Mask wanted, Values& values,
                        Scratch& scratch) {
    pool::checkpoint();
    if (wanted & bit(EXCURSION)) values[EXCURSION] = excursion(raw, f.n, f.mean);
    if (f.alphabet.binary()) {
        binary_statistics(f, raw, wanted, values, scratch);
        return;
    }
    if (wanted & COLLISIONS) collisions(raw, f.n, values);
    if (wanted & MEDIAN) {
        below_bits(raw, f.n, f.median_threshold, scratch.bits);
        median_runs(scratch.bits, f.n, values);
    }
    neighbourly(raw, f.n, wanted, values, scratch);
}

}  // namespace veltrane::sp800_90b::iid
