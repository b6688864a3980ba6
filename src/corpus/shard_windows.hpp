// The windows a shard's pass decides window by window: those of the runs
// that represent a class of a key whose runs fall in several classes
// (shard_runs.hpp), or every window when windows are too short to pick anchors.
//
// Every such window gets a 61-bit hash with the base the run drew (the
// same on every shard). The shard compares its candidates of equal hash byte
// for byte: its later copies of a window (under Keep::none, every copy) are
// duplicates it knows of alone, and each distinct window leaves one record,
// its hash and its first global position, for the partition of its hash.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "corpus/bitset.hpp"
#include "corpus/corpus_text.hpp"
#include "corpus/dedup.hpp"
#include "corpus/shard_anchors.hpp"

namespace veltrane::corpus::shard {

// Set on a record's hash when the shard holds the window twice or more.
inline constexpr std::uint64_t WINDOW_MANY = std::uint64_t{1} << 63;

struct WindowRecords {
    // For each partition, pairs (hash | WINDOW_MANY?, first global position), by hash.
    std::vector<std::vector<std::uint64_t>> parts;
    Bitset duplicates;      // the windows the shard's own bytes show to be duplicates
    bool collided = false;  // two candidates of one hash differ: nothing else is set
};

// The windows of the runs in `representatives` (pairs: first global
// position, windows) whose second key is in `shared` (ascending), or every
// window when min_length picks no anchors. `position`: the global position of
// the shard's first byte. Throws std::invalid_argument for a run outside the shard.
Bitset candidate_windows(const CorpusText& text, std::uint64_t position, std::uint64_t min_length,
                         std::span<const std::uint64_t> representatives, std::span<const std::uint64_t> shared);

// `position` is the global position of the shard's first byte.
WindowRecords window_records(const CorpusText& text, std::uint64_t position, const DedupOptions& options,
                             const Bitset& candidates, std::uint64_t hash_base, std::size_t partitions);

}  // namespace veltrane::corpus::shard
