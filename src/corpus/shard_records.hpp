// What the shards of a cluster run exchange: arrays of native 64-bit words,
// one array per destination (a partition of keys, or a shard), so that the
// scheduler moves a few byte strings per shard and never a record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace veltrane::corpus::shard {

// The records one shard sent to a partition (or one partition to a shard).
struct FromShard {
    std::uint64_t shard;
    std::span<const std::uint64_t> records;
};

// Records for each destination, ascending by destination, none empty.
using Outbox = std::vector<std::pair<std::uint64_t, std::vector<std::uint64_t>>>;

// The partition of a key whose top bits are uniform: the same on every shard.
inline std::size_t partition_of(std::uint64_t key, std::size_t partitions) {
    return static_cast<std::size_t>((static_cast<unsigned __int128>(key) * partitions) >> 64);
}

// The shard that holds global position p, given every shard's first position
// (ascending; an empty shard shares its position with the next, which wins).
std::size_t owner_of(std::span<const std::uint64_t> positions, std::uint64_t p);

}  // namespace veltrane::corpus::shard
