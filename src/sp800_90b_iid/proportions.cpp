#include "sp800_90b_iid/proportions.hpp"

#include "pool/cancel.hpp"
#include "util/count_bytes.hpp"

namespace veltrane::sp800_90b::iid {

std::vector<std::uint64_t> rank_counts(const SampleFacts& facts, const std::uint8_t* raw) {
    const util::ByteHistogram counts = util::count_bytes(raw, facts.n);
    std::vector<std::uint64_t> by_rank(facts.alphabet.k);
    for (unsigned r = 0; r < facts.alphabet.k; ++r) by_rank[r] = counts[facts.alphabet.value[r]];
    return by_rank;
}

std::vector<double> added_proportions(const std::vector<std::uint64_t>& counts, std::uint64_t total) {
    const double share = 1.0 / static_cast<double>(total);
    std::vector<double> p(counts.size(), 0.0);
    for (std::size_t r = 0; r < counts.size(); ++r) {
        double sum = 0.0;
        for (std::uint64_t c = 0; c < counts[r]; ++c) {
            if ((c & 0xFFFFF) == 0) pool::checkpoint();
            sum += share;
        }
        p[r] = sum;
    }
    return p;
}

}  // namespace veltrane::sp800_90b::iid
