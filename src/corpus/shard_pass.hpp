// The end of a shard's pass on a cluster: the duplicate windows it knows of
// (its own and the verified runs) removed exactly as one pass of dedup.cpp
// removes them, since the shard holds whole documents.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "corpus/bitset.hpp"
#include "corpus/corpus_text.hpp"
#include "corpus/dedup.hpp"
#include "corpus/pass_removal.hpp"

namespace veltrane::corpus::shard {

struct ShardPass {
    bool collided = false;  // a run disagreed: the pass must run again with a new base
    std::uint64_t removed = 0;
    // What the next pass starts from. The bytes marked but kept are near bytes
    // even where nothing went, so a shard has its near bytes whatever it
    // removed; when it marked nothing, `next.bytes` is left empty and
    // `same_bytes` says that the text stays as it is.
    PassText next;
    bool same_bytes = false;
};

// `duplicates`: the windows the shard showed to be duplicates itself; `runs`:
// what the shards holding its claimed-to windows sent (shard_claims.hpp).
ShardPass finish_pass(const CorpusText& text, std::uint64_t position, const std::vector<Piece>& pieces,
                      Bitset duplicates, std::span<const std::span<const std::uint64_t>> runs,
                      const DedupOptions& options);

}  // namespace veltrane::corpus::shard
