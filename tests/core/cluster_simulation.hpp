// The deduplication on a cluster, in one process: shards of whole documents
// and partitions of keys, each exchange a move between vectors, in the order
// the cluster runs them (anchors, candidate keys, window records, claims,
// runs, removal), passes to the fixed point, a collision answered by running
// the pass again with the next base. The core tests and the fuzz target hold
// it to the one-machine engine.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "corpus/dedup.hpp"
#include "corpus/shard_anchors.hpp"
#include "corpus/shard_claims.hpp"
#include "corpus/shard_pass.hpp"
#include "corpus/shard_windows.hpp"

namespace veltrane::testing {

struct Simulated {
    corpus::DedupResult result;
    unsigned collisions = 0;  // passes run again
};

// `firsts`: the first document of each shard, ascending, the first 0.
inline Simulated simulate_cluster(const corpus::CorpusText& whole, const std::vector<std::size_t>& firsts,
                                  std::size_t partitions, const corpus::DedupOptions& options,
                                  const std::function<std::uint64_t()>& next_base) {
    namespace c = veltrane::corpus;
    namespace s = veltrane::corpus::shard;
    struct Shard {
        std::size_t first_document;
        std::vector<std::uint64_t> original;  // offsets as given, from 0
        c::PassText current;
        c::CorpusText text() const { return {current.bytes.data(), current.offsets}; }
    };
    std::vector<Shard> shards(firsts.size());
    for (std::size_t k = 0; k < firsts.size(); ++k) {
        Shard& shard = shards[k];
        const std::size_t end = k + 1 < firsts.size() ? firsts[k + 1] : whole.documents();
        shard.first_document = firsts[k];
        for (std::size_t d = firsts[k]; d <= end; ++d) shard.original.push_back(whole.offsets[d] - whole.offsets[firsts[k]]);
        const std::uint64_t size = shard.original.back();
        shard.current.bytes = util::BigArray<std::uint8_t>(size);
        std::copy(whole.bytes + whole.offsets[firsts[k]], whole.bytes + whole.offsets[firsts[k]] + size,
                  shard.current.bytes.data());
        shard.current.offsets = shard.original;
        if (size > 0) shard.current.pieces.push_back({0, 0, size});
    }
    const std::size_t n = shards.size();
    Simulated out;
    for (unsigned pass = 1;; ++pass) {
        out.result.passes = pass;
        std::vector<std::uint64_t> positions(n);
        for (std::size_t k = 1; k < n; ++k) positions[k] = positions[k - 1] + shards[k - 1].text().size();
        // Which windows are candidates.
        std::vector<std::vector<s::AnchorRun>> runs(n);
        std::vector<std::vector<std::uint64_t>> told(n);
        if (s::anchored(options.min_length)) {
            std::vector<std::vector<std::vector<std::uint64_t>>> records(n);
            for (std::size_t k = 0; k < n; ++k) {
                runs[k] = s::anchor_runs(shards[k].text(), options.min_length, pass == 1 ? nullptr : &shards[k].current.near);
                records[k] = s::anchor_records(runs[k], partitions);
            }
            for (std::size_t p = 0; p < partitions; ++p) {
                std::vector<s::FromShard> inputs;
                for (std::size_t k = 0; k < n; ++k) inputs.push_back({k, records[k][p]});
                for (auto& [shard, keys] : s::candidate_keys(inputs)) told[shard].insert(told[shard].end(), keys.begin(), keys.end());
            }
        }
        std::vector<c::Bitset> candidates(n);
        for (std::size_t k = 0; k < n; ++k) {
            candidates[k] = s::candidate_windows(shards[k].text(), options.min_length, runs[k],
                                                 s::chosen_keys(runs[k], told[k]));
        }
        // Hashes, decisions, bytes, removal; again with a new base after a collision.
        for (;;) {
            const std::uint64_t base = next_base();
            std::vector<s::WindowRecords> windows(n);
            bool collided = false;
            for (std::size_t k = 0; k < n; ++k) {
                windows[k] = s::window_records(shards[k].text(), positions[k], options, candidates[k], base, partitions);
                collided = collided || windows[k].collided;
            }
            if (collided) {
                ++out.collisions;
                continue;
            }
            std::vector<std::vector<std::vector<std::uint64_t>>> claims(n), served(n);
            for (std::size_t p = 0; p < partitions; ++p) {
                std::vector<s::FromShard> inputs;
                for (std::size_t k = 0; k < n; ++k) inputs.push_back({k, windows[k].parts[p]});
                for (auto& [owner, pairs] : s::window_claims(inputs, options.keep, positions)) claims[owner].push_back(pairs);
            }
            for (std::size_t k = 0; k < n; ++k) {
                std::vector<std::span<const std::uint64_t>> asked(claims[k].begin(), claims[k].end());
                for (auto& [claimant, words] : s::serve_claims(shards[k].text(), positions[k], options.min_length, asked, positions)) {
                    served[claimant].push_back(words);
                }
            }
            std::vector<s::ShardPass> finished(n);
            for (std::size_t k = 0; k < n && !collided; ++k) {
                std::vector<std::span<const std::uint64_t>> got(served[k].begin(), served[k].end());
                finished[k] = s::finish_pass(shards[k].text(), positions[k], shards[k].current.pieces,
                                             std::move(windows[k].duplicates), got, options);
                collided = finished[k].collided;
            }
            if (collided) {
                ++out.collisions;
                continue;
            }
            std::uint64_t removed = 0;
            for (std::size_t k = 0; k < n; ++k) {
                removed += finished[k].removed;
                if (finished[k].same_bytes) {
                    shards[k].current.near = std::move(finished[k].next.near);
                } else {
                    shards[k].current = std::move(finished[k].next);
                }
            }
            if (removed == 0) {
                for (Shard& shard : shards) {
                    c::DedupResult part;
                    c::removed_ranges(shard.original, shard.current.pieces, part);
                    for (std::size_t i = 0; i < part.documents.size(); ++i) {
                        out.result.documents.push_back(part.documents[i] + shard.first_document);
                        out.result.starts.push_back(part.starts[i]);
                        out.result.ends.push_back(part.ends[i]);
                    }
                    out.result.removed_bytes += part.removed_bytes;
                }
                return out;
            }
            break;
        }
    }
}

}  // namespace veltrane::testing
