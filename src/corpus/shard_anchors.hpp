// The first exchange of a shard's pass: which windows can repeat at all.
//
// Every window picks an anchor (anchors.hpp) whose fingerprint two equal
// windows share, wherever they lie. Each shard sends one record per distinct
// fingerprint it holds; the partitions find the fingerprints held at two
// positions or more, and, after the first pass, held by a window that holds a
// byte to look near (dedup.cpp: only such windows, and windows with their
// bytes, can repeat anew). Those fingerprints' windows are the candidates.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "corpus/bitset.hpp"
#include "corpus/corpus_text.hpp"
#include "corpus/shard_records.hpp"

namespace veltrane::corpus::shard {

// Flags in the low bits of an anchor record; the rest is the fingerprint.
inline constexpr std::uint64_t ANCHOR_MANY = 1;  // the shard holds it at two positions or more
inline constexpr std::uint64_t ANCHOR_NEAR = 2;  // a window that picks it holds a byte to look near
inline constexpr std::uint64_t ANCHOR_FLAGS = ANCHOR_MANY | ANCHOR_NEAR;

// Whether windows of min_length bytes pick anchors; shorter ones are all candidates.
bool anchored(std::uint64_t min_length);

// An anchor of the shard: the windows [first, stop) pick it.
struct AnchorRun {
    std::uint64_t key;  // fingerprint with the flag bits cleared
    std::uint64_t first, stop;
    bool near;
};

// The shard's anchors in order of position (anchored(min_length) must hold);
// `near` null means every byte is near (the first pass).
std::vector<AnchorRun> anchor_runs(const CorpusText& text, std::uint64_t min_length, const Bitset* near);

// One record per distinct key, key | flags, for each partition, ascending.
std::vector<std::vector<std::uint64_t>> anchor_records(const std::vector<AnchorRun>& runs, std::size_t partitions);

// At a partition, from every shard's records: for each shard that cannot know
// it alone, the keys (ascending) held at two positions or more, one of them near.
Outbox candidate_keys(std::span<const FromShard> inputs);

// The keys whose windows are candidates, from the shard's own records and what
// the partitions told it (`told`: every shard's keys, any order).
std::vector<std::uint64_t> chosen_keys(const std::vector<AnchorRun>& runs, std::vector<std::uint64_t> told);

}  // namespace veltrane::corpus::shard
