// Sorting one bucket of a bit string's suffixes (all sharing their first
// `depth` bits) from the bits packed 64 to a word: the packed string (n/8
// bytes) stays in cache, a suffix's next 64 bits are one word, and on varied
// data most suffixes are told apart by their first 80 bits. The sort yields
// its neighbours' common prefix lengths as it goes.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "sp800_90b/packed_suffixes.hpp"

namespace veltrane::sp800_90b {

// Thrown when sorting has compared more words than its budget allows: data too
// repetitive for comparison sorting.
struct TooRepetitive {};

// One worker's sorter, reused bucket after bucket (its buffers grow to the
// largest bucket's size).
class BitBucketSorter {
public:
    using KeyedSuffix = std::pair<std::uint64_t, std::uint32_t>;  // (the next 64 bits, position)

    // `budget`: the words it may compare in all its sorts.
    explicit BitBucketSorter(std::uint64_t budget) : budget_(budget) {}

    // Sorts sa[begin, end), suffixes sharing their first `depth` bits; then
    // lcp()[i] is the common prefix of the sorted suffixes i - 1 and i of the
    // range (0 < i < end - begin), the largest of them longest(). Throws
    // TooRepetitive past the budget, pool::Cancelled when stopped.
    void sort(const PackedSuffixes& bits, std::uint32_t* sa, std::uint64_t begin, std::uint64_t end, std::uint64_t depth);

    const std::uint32_t* lcp() const { return lcp_.data(); }
    std::uint64_t longest() const { return longest_; }

    std::uint64_t words = 0;  // compared so far

private:
    void sort_range(const PackedSuffixes& bits, std::uint32_t* sa, std::uint64_t begin, std::uint64_t end, std::uint64_t depth);
    void record(std::uint64_t i, std::uint64_t l) {
        longest_ = l > longest_ ? l : longest_;
        lcp_[i - bucket_begin_] = static_cast<std::uint32_t>(l);
    }
    void check_budget();

    std::vector<std::uint32_t> lcp_;
    std::vector<KeyedSuffix> keyed_, spare_;  // the ranges of cached keys
    std::uint64_t bucket_begin_ = 0, longest_ = 0, split_depth_ = 0, budget_;
};

}  // namespace veltrane::sp800_90b
