// The tuple counts (suffix_tuples.hpp) of a bit string from its suffix sort: a
// counting sort on the first 14 bits, whose counts give every tuple of 14 bits
// or fewer (short_tuples.hpp), then each bucket sorted on its own
// (bit_suffix_sort.hpp) and its neighbours' common prefixes counted while they
// are in the cache (bucket_runs.hpp for the small buckets, the interval pass
// for the others).
//
// Bits that come in long runs have their suffix order induced from the run
// starts' instead (run_suffix_order.hpp), and then their pieces are ranges of
// that order whose neighbours are compared directly.
//
// In three steps, so that a caller can run the buckets' pieces beside other
// work: the construction (on the pool), sort_piece(p) for every piece in any
// order and on any threads, then counts().
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "sp800_90b/bucket_runs.hpp"
#include "sp800_90b/packed_suffixes.hpp"
#include "sp800_90b/suffix_tuples.hpp"
#include "sp800_90b/tuple_intervals.hpp"
#include "util/big_array.hpp"

namespace veltrane::sp800_90b {

class BitTupleSort {
public:
    // bits[0..n): 0 or 1 each, n below 2^32 - 1; read until counts().
    BitTupleSort(const std::uint8_t* bits, std::uint64_t n);

    // The pieces to sort (0 when there are too few bits to be worth the buckets).
    std::size_t pieces() const { return pieces_.size(); }
    void sort_piece(std::size_t p);

    // After every piece: the counts, or nothing when the data is too repetitive
    // for comparison sorting (or too short): the byte suffix sort then takes
    // over, after O(n) spent here.
    std::optional<TupleCounts> counts();

    // A piece's share of the suffixes, the measure of its work.
    double share(std::size_t p) const;

private:
    struct Piece {
        // buckets first..end, or with the induced order, the positions of the
        // order whose buckets start in first..end
        std::size_t first, end;
        IntervalTally<std::uint32_t> tally;
        BucketRuns runs;
    };
    // The tuples of one bucket: its neighbours' prefix lengths small[i] (i = 1..count-1),
    // LARGE meaning the next of large.
    void count_bucket(Piece& piece, std::uint64_t count, std::uint64_t longest, const std::uint8_t* small,
                      const std::vector<std::pair<std::uint32_t, std::uint32_t>>& large);
    void sort_buckets(Piece& piece);
    void compare_induced(Piece& piece);
    void count_windows();

    PackedSuffixes bits_;
    std::uint64_t m_ = 0;  // the suffixes of 14 bits or more
    std::vector<std::uint32_t> bucket_start_;
    std::vector<std::uint64_t> windows_;  // how often each 14-bit window occurs
    util::BigArray<std::uint32_t> sa_;
    bool induced_ = false;  // sa_ holds all n suffixes in order
    std::vector<Piece> pieces_;
    std::atomic<bool> too_repetitive_{false};
};

// All three steps on the pool: the counts, or nothing (as counts()).
std::optional<TupleCounts> count_bit_tuples(const std::uint8_t* bits, std::uint64_t n);

}  // namespace veltrane::sp800_90b
