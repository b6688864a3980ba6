#include "sp800_90b_iid/samples.hpp"

#include <stdexcept>

#include "util/count_bytes.hpp"

namespace veltrane::sp800_90b::iid {

namespace {

// The rank at 0-based position `at` of the sorted ranks.
unsigned rank_at(const util::ByteHistogram& counts, const Alphabet& a, std::size_t at) {
    std::size_t seen = 0;
    for (unsigned r = 0; r < a.k; ++r) {
        seen += counts[a.value[r]];
        if (at < seen) return r;
    }
    return a.k - 1;
}

}  // namespace

SampleFacts facts_of(const std::uint8_t* raw, std::size_t n) {
    if (n == 0) throw std::invalid_argument("no samples to assess");
    SampleFacts f;
    f.n = n;
    const util::ByteHistogram counts = util::count_bytes(raw, n);
    std::uint64_t sum = 0;
    for (unsigned v = 0; v < 256; ++v) {
        if (counts[v] == 0) continue;
        f.alphabet.rank[v] = static_cast<std::uint8_t>(f.alphabet.k);
        f.alphabet.value[f.alphabet.k] = static_cast<std::uint8_t>(v);
        ++f.alphabet.k;
        sum += counts[v] * v;
    }
    f.mean = static_cast<double>(sum) / static_cast<double>(n);
    if (f.alphabet.binary()) {
        f.median = 0.5;
    } else if (n % 2 == 1) {
        f.median = rank_at(counts, f.alphabet, n / 2);
    } else {
        f.median = (rank_at(counts, f.alphabet, n / 2 - 1) + rank_at(counts, f.alphabet, n / 2)) / 2.0;
    }
    // Ranks keep the order of values: the first value at or above the median
    // rank divides them.
    f.median_threshold = 256;
    for (unsigned r = 0; r < f.alphabet.k; ++r) {
        if (r >= f.median) {
            f.median_threshold = f.alphabet.value[r];
            break;
        }
    }
    return f;
}

}  // namespace veltrane::sp800_90b::iid
