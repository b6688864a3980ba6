// A shard's anchors (anchors.hpp): every window picks one, and two windows
// with the same bytes pick anchors with the same key at the same offset,
// wherever they lie. The runs of windows that pick one anchor are what the
// first exchange of a pass sends (shard_runs.hpp); the windows of keys decided
// window by window are found again from them (shard_windows.hpp).
#pragma once

#include <cstdint>
#include <vector>

#include "corpus/bitset.hpp"
#include "corpus/corpus_text.hpp"
#include "corpus/shard_records.hpp"

namespace veltrane::corpus::shard {

// Whether windows of min_length bytes pick anchors; shorter ones are all
// decided window by window.
bool anchored(std::uint64_t min_length);

// An anchor's key: its fingerprint with the low bits cleared, which records
// use for flags.
inline constexpr std::uint64_t KEY_FLAGS = 3;
inline std::uint64_t key_of(std::uint64_t fingerprint) { return fingerprint & ~KEY_FLAGS; }

// An anchor of the shard: the windows [first, stop) pick it.
struct AnchorRun {
    std::uint64_t key;
    std::uint64_t first, stop;
};

// The shard's anchors in order of position (anchored(min_length) must hold).
std::vector<AnchorRun> anchor_runs(const CorpusText& text, std::uint64_t min_length);

}  // namespace veltrane::corpus::shard
