// The inner loop of the battery pass: the histogram, the pair sums and the
// Monte Carlo hits in one pass over a block. A portable version (the plain
// loops, one after another) and, on x86 processors that have them, an AVX2
// and an AVX-512 version, the best chosen once at run time, give the same
// integers (the tests hold them to each other and to a naive model).
#pragma once

#include <cstddef>
#include <cstdint>

#include "util/count_bytes.hpp"

namespace veltrane::battery::kernel {

struct PairSums {
    std::uint64_t products = 0;  // sum of data[i] * data[i+1], i < n - 1
    std::uint64_t seams = 0;     // pairs with data[i] odd and data[i+1] >= 128
};

// All three over data[0, n), n at most 2^32 - 1: the histogram added to `hist`,
// the pair sums returned, and the hits among `groups` 6-byte groups from
// data + lead (inside the block) in `hits`.
struct BlockSums {
    PairSums pairs;
    std::uint64_t hits = 0;
};
BlockSums block_sums(const std::uint8_t* data, std::size_t n, std::size_t lead, std::size_t groups,
                     util::ByteHistogram& hist);

// The plain loops: pairs of data[0, n), n at most 2^32 - 1 (the sums then
// fit 64 bits); hits among `groups` consecutive 6-byte groups (see mc_hit).
PairSums pair_sums_portable(const std::uint8_t* data, std::size_t n);
std::uint64_t monte_carlo_hits_portable(const std::uint8_t* data, std::size_t groups);

BlockSums block_sums_portable(const std::uint8_t* data, std::size_t n, std::size_t lead, std::size_t groups,
                              util::ByteHistogram& hist);
// The AVX2 version exists only where this is true.
bool have_avx2();
BlockSums block_sums_avx2(const std::uint8_t* data, std::size_t n, std::size_t lead, std::size_t groups,
                          util::ByteHistogram& hist);
// The AVX-512 version (byte permutes and dot products on 256-bit registers)
// exists only where this is true.
bool have_avx512();
BlockSums block_sums_avx512(const std::uint8_t* data, std::size_t n, std::size_t lead, std::size_t groups,
                            util::ByteHistogram& hist);

}  // namespace veltrane::battery::kernel
