// The window-by-window decisions of a shard's pass, and the bytes that prove
// every decision.
//
// A partition sees every shard's record of each window hash in it: the
// earliest position holding the hash, and whether it is held twice anywhere.
// A window is then claimed to equal another: under Keep::first each record's
// window equals the earliest (and so is a duplicate); under Keep::none a
// window that its shard holds once equals another record's (so both are
// duplicates). Runs are claimed the same way, run by run (shard_runs.hpp). A
// claim is only a hash's word: the shard that holds the other copy sends its
// bytes, claims of consecutive windows merged into runs (a copied span of m
// windows is one run of m - 1 + L bytes), and the claiming shard compares
// them with its own. Bytes that differ mean two windows shared a hash: the
// pass is run again with a new base, so a collision costs time, never a byte
// of the answer.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "corpus/bitset.hpp"
#include "corpus/corpus_text.hpp"
#include "corpus/duplicate_windows.hpp"
#include "corpus/shard_records.hpp"

namespace veltrane::corpus::shard {

// A claim is three words: a position held by the shard it goes to, a
// position claimed to hold the same bytes, and how many consecutive windows
// from there (a run's, or one).

// At a partition, from every shard's window records: for each shard that
// holds claimed-to windows, its claims. `positions`: every shard's first
// global position.
Outbox window_claims(std::span<const FromShard> inputs, Keep keep, std::span<const std::uint64_t> positions);

// Runs as the claiming shard receives them: three words (its position, the
// position of the equal bytes, the number of windows m), then the m - 1 + L
// bytes there, padded to a whole word.
using RunOutbox = std::vector<std::pair<std::uint64_t, std::vector<std::uint64_t>>>;

// At the shard that holds the claimed-to windows (its first byte at
// `position`): the claims on it from every partition, answered with its bytes
// for each claiming shard, claims that touch or overlap merged into one run.
// Throws std::invalid_argument for a claim on windows outside the shard.
RunOutbox serve_claims(const CorpusText& text, std::uint64_t position, std::uint64_t min_length,
                       std::span<const std::span<const std::uint64_t>> claims,
                       std::span<const std::uint64_t> positions);

// At the claiming shard: compares every run with its own bytes and sets the
// windows of those that agree in `duplicates`. False, at the first run that
// does not, when two windows shared a hash. Throws std::invalid_argument for a
// run outside the shard.
bool verify_runs(const CorpusText& text, std::uint64_t position, std::uint64_t min_length,
                 std::span<const std::span<const std::uint64_t>> runs, Bitset& duplicates);

}  // namespace veltrane::corpus::shard
