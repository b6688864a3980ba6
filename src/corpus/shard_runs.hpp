// The first exchange of a shard's pass: its anchor runs, by class.
//
// The windows that pick one anchor form a run [first, stop) (anchors.hpp).
// Two windows with the same bytes pick anchors with the same key at the same
// offset, so they sit at the same index of runs of that key. A run's class
// hashes the bytes its windows cover, [first, stop - 1 + L), and how many
// windows it has: two runs of one class hold the same bytes window for
// window. Within a class, the earliest run (its representative) holds the
// first copy of each of its windows and the others copy it: they are decided
// run by run. When a key's runs fall in several classes (at the ends of
// copies, a phrase in other surroundings), a window of one class may still
// equal the window at the same index of another: the representatives' windows
// are then decided one by one (shard_windows.hpp), and only those whose
// second key is held twice or more, since a window with a copy shares both
// keys with it. (A window with a copy in another class has one in that
// class's representative, whose windows are those of every run of its class.)
// So one record per class of runs and shard travels, one per distinct second
// key, and one per window only for one run per class of a mixed key.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "corpus/bitset.hpp"
#include "corpus/corpus_text.hpp"
#include "corpus/dedup.hpp"
#include "corpus/shard_anchors.hpp"
#include "corpus/shard_records.hpp"

namespace veltrane::corpus::shard {

// A run record's third word: its first window's global position, shifted
// left by RUN_WINDOW_BITS, and its windows. Runs longer than MOST_RUN_WINDOWS
// (only for min_length > 2^17) are cut into pieces, which at worst decides
// their key window by window.
inline constexpr unsigned RUN_WINDOW_BITS = 16;
inline constexpr std::uint64_t MOST_RUN_WINDOWS = (std::uint64_t{1} << RUN_WINDOW_BITS) - 1;
// Positions from here on do not fit a record: a corpus of 256 TiB.
inline constexpr std::uint64_t RECORD_POSITIONS = std::uint64_t{1} << (64 - RUN_WINDOW_BITS);

// Flags in the low bits of a record's first word; the rest is the key.
inline constexpr std::uint64_t RUN_MANY = 1;  // the shard holds the class twice or more
inline constexpr std::uint64_t RUN_NEAR = 2;  // one of its windows holds a byte to look near
inline constexpr std::uint64_t RUN_FLAGS = RUN_MANY | RUN_NEAR;
static_assert((RUN_FLAGS & ~KEY_FLAGS) == 0, "the flags fit the bits a key leaves free");

struct RunRecords {
    // For each partition of keys, triples (key | flags, class, position << RUN_WINDOW_BITS | windows).
    std::vector<std::vector<std::uint64_t>> parts;
    // For each partition of keys, the second keys the shard's windows hold, each once, with the flags.
    std::vector<std::vector<std::uint64_t>> second_keys;
    Bitset duplicates;      // the windows whose copies the shard holds itself (compared byte for byte)
    bool collided = false;  // two runs of one class differ: nothing else is set
};

// One record per class of runs in the shard (anchored(min_length) must hold);
// `near` null means every byte is near (the first pass). `position` is the
// global position of the shard's first byte; every class is hashed with
// `hash_base`, the same on every shard. Throws std::invalid_argument for a
// position at or past RECORD_POSITIONS.
RunRecords run_records(const CorpusText& text, std::uint64_t position, const DedupOptions& options,
                       const Bitset* near, std::uint64_t hash_base, std::size_t partitions);

struct RunDecisions {
    // To the shard holding each claimed-to run: triples (position held there,
    // position claimed to hold the same bytes, windows), see shard_claims.hpp.
    Outbox claims;
    // To each shard holding representatives of a mixed key's classes: their
    // first positions and windows, pairs ascending.
    Outbox representatives;
    // To each shard holding a second key held twice or more, one of them near: the keys, ascending.
    Outbox shared;
};

// At a partition, from every shard's run records and second keys: under
// Keep::first each run of a class but the earliest is claimed to equal the
// earliest; under Keep::none each run of a class held twice or more that its
// shard holds once is claimed to equal another of its class. A key counts
// only when held twice or more, one of them near. `positions`: every shard's
// first global position.
RunDecisions run_decisions(std::span<const FromShard> runs, std::span<const FromShard> second_keys, Keep keep,
                           std::span<const std::uint64_t> positions);

}  // namespace veltrane::corpus::shard
