// The byte histogram that every entropy measure starts from.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace veltrane::util {

// Counter b holds how many bytes of the input have the value b.
using ByteHistogram = std::array<std::uint64_t, 256>;

// From this length on the count runs on the worker pool, in chunks.
inline constexpr std::size_t PARALLEL_COUNT_THRESHOLD = 262144;
inline constexpr std::size_t COUNT_CHUNK_SIZE = 65536;

// O(n): sequential below PARALLEL_COUNT_THRESHOLD, otherwise chunks of
// COUNT_CHUNK_SIZE counted on the pool and summed. Exact, so the result is the
// same for every thread count.
ByteHistogram count_bytes(const std::uint8_t* data, std::size_t n);

// Adds the counts of data[0, n) to `hist`, n at most 2^32 - 1: the counting
// kernel of both functions below, for passes that count as they go. O(n).
void count_block(const std::uint8_t* data, std::size_t n, ByteHistogram& hist);

// O(n) on the calling thread only.
ByteHistogram count_bytes_sequential(const std::uint8_t* data, std::size_t n);

}  // namespace veltrane::util
