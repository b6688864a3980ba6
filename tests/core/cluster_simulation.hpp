// The deduplication on a cluster, in one process: shards of whole documents
// and partitions of keys, each exchange a move between vectors, in the order
// the cluster runs them (run records and second keys, run decisions, window
// records for the windows of mixed keys' class representatives whose second
// keys are shared, claims, runs of bytes, removal), passes to
// the fixed point, a collision answered by running the pass again with the
// next base. Between passes a shard keeps only what a cluster's shard keeps
// (its pieces and the ranges to look near) and makes its text again from the
// text as given. The core tests and the fuzz target hold it to the
// one-machine engine.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <span>
#include <vector>

#include "corpus/dedup.hpp"
#include "corpus/shard_anchors.hpp"
#include "corpus/shard_claims.hpp"
#include "corpus/shard_pass.hpp"
#include "corpus/shard_runs.hpp"
#include "corpus/shard_text.hpp"
#include "corpus/shard_windows.hpp"

namespace veltrane::testing {

struct Simulated {
    corpus::DedupResult result;
    unsigned collisions = 0;  // passes run again
    bool texts_agree = true;  // every text made from pieces equals the one the removal made
    std::uint64_t run_records = 0, window_records = 0;  // words sent, summed over passes
};

// `firsts`: the first document of each shard, ascending, the first 0.
inline Simulated simulate_cluster(const corpus::CorpusText& whole, const std::vector<std::size_t>& firsts,
                                  std::size_t partitions, const corpus::DedupOptions& options,
                                  const std::function<std::uint64_t()>& next_base) {
    namespace c = veltrane::corpus;
    namespace s = veltrane::corpus::shard;
    using Words = std::vector<std::uint64_t>;
    struct Shard {
        std::size_t first_document;
        Words original;  // offsets as given, from 0
        const std::uint8_t* bytes;
        std::vector<c::Piece> pieces;
        Words near;  // ranges; none before the first pass
        c::PassText text;
    };
    const std::size_t n = firsts.size();
    std::vector<Shard> shards(n);
    for (std::size_t k = 0; k < n; ++k) {
        Shard& shard = shards[k];
        const std::size_t end = k + 1 < n ? firsts[k + 1] : whole.documents();
        shard.first_document = firsts[k];
        for (std::size_t d = firsts[k]; d <= end; ++d) shard.original.push_back(whole.offsets[d] - whole.offsets[firsts[k]]);
        shard.bytes = whole.bytes + whole.offsets[firsts[k]];
        if (shard.original.back() > 0) shard.pieces.push_back({0, 0, shard.original.back()});
    }
    Simulated out;
    for (unsigned pass = 1;; ++pass) {
        out.result.passes = pass;
        Words positions(n);
        std::vector<c::CorpusText> texts(n);
        for (std::size_t k = 0; k < n; ++k) {
            Shard& shard = shards[k];
            shard.text = s::text_from_pieces({shard.bytes, shard.original}, shard.pieces);
            texts[k] = {shard.text.bytes.data(), shard.text.offsets};
            if (k > 0) positions[k] = positions[k - 1] + texts[k - 1].size();
        }
        for (;;) {
            const std::uint64_t base = next_base();
            bool collided = false;
            std::vector<std::vector<Words>> claims(n), served(n);
            std::vector<Words> representatives(n), shared(n);
            std::vector<c::Bitset> duplicates(n);
            for (std::size_t k = 0; k < n; ++k) duplicates[k] = c::Bitset(texts[k].size());
            if (s::anchored(options.min_length)) {
                std::vector<s::RunRecords> runs(n);
                for (std::size_t k = 0; k < n; ++k) {
                    const c::Bitset near = s::from_ranges(shards[k].near, texts[k].size());
                    runs[k] = s::run_records(texts[k], positions[k], options, pass == 1 ? nullptr : &near, base, partitions);
                    collided = collided || runs[k].collided;
                    for (const Words& part : runs[k].parts) out.run_records += part.size();
                    for (const Words& part : runs[k].second_keys) out.run_records += part.size();
                    duplicates[k].unite(runs[k].duplicates);
                }
                for (std::size_t p = 0; p < partitions && !collided; ++p) {
                    std::vector<s::FromShard> inputs, second_keys;
                    for (std::size_t k = 0; k < n; ++k) {
                        inputs.push_back({k, runs[k].parts[p]});
                        second_keys.push_back({k, runs[k].second_keys[p]});
                    }
                    s::RunDecisions decided = s::run_decisions(inputs, second_keys, options.keep, positions);
                    for (auto& [owner, words] : decided.claims) claims[owner].push_back(words);
                    for (auto& [shard, runs] : decided.representatives) {
                        representatives[shard].insert(representatives[shard].end(), runs.begin(), runs.end());
                    }
                    for (auto& [shard, keys] : decided.shared) shared[shard].insert(shared[shard].end(), keys.begin(), keys.end());
                }
            }
            std::vector<s::WindowRecords> windows(n);
            for (std::size_t k = 0; k < n && !collided; ++k) {
                std::sort(shared[k].begin(), shared[k].end());
                const c::Bitset candidates =
                    s::candidate_windows(texts[k], positions[k], options.min_length, representatives[k], shared[k]);
                windows[k] = s::window_records(texts[k], positions[k], options, candidates, base, partitions);
                collided = collided || windows[k].collided;
                for (const Words& part : windows[k].parts) out.window_records += part.size();
                duplicates[k].unite(windows[k].duplicates);
            }
            if (collided) {
                ++out.collisions;
                continue;
            }
            for (std::size_t p = 0; p < partitions; ++p) {
                std::vector<s::FromShard> inputs;
                for (std::size_t k = 0; k < n; ++k) inputs.push_back({k, windows[k].parts[p]});
                for (auto& [owner, words] : s::window_claims(inputs, options.keep, positions)) claims[owner].push_back(words);
            }
            for (std::size_t k = 0; k < n; ++k) {
                std::vector<std::span<const std::uint64_t>> asked(claims[k].begin(), claims[k].end());
                for (auto& [claimant, words] : s::serve_claims(texts[k], positions[k], options.min_length, asked, positions)) {
                    served[claimant].push_back(words);
                }
            }
            std::vector<s::ShardPass> finished(n);
            for (std::size_t k = 0; k < n && !collided; ++k) {
                std::vector<std::span<const std::uint64_t>> got(served[k].begin(), served[k].end());
                finished[k] = s::finish_pass(texts[k], positions[k], shards[k].pieces, std::move(duplicates[k]), got, options);
                collided = finished[k].collided;
            }
            if (collided) {
                ++out.collisions;
                continue;
            }
            std::uint64_t removed = 0;
            for (std::size_t k = 0; k < n; ++k) {
                Shard& shard = shards[k];
                removed += finished[k].removed;
                shard.near = s::set_ranges(finished[k].next.near);
                if (finished[k].same_bytes) continue;
                shard.pieces = std::move(finished[k].next.pieces);
                // What the next pass makes from the pieces must be what the removal made.
                const c::PassText again = s::text_from_pieces({shard.bytes, shard.original}, shard.pieces);
                const c::PassText& made = finished[k].next;
                out.texts_agree = out.texts_agree && again.offsets == made.offsets &&
                                  again.bytes.size() == made.bytes.size() &&
                                  (made.bytes.size() == 0 ||  // an empty text may have no buffer at all
                                   std::memcmp(again.bytes.data(), made.bytes.data(), made.bytes.size()) == 0);
            }
            if (removed == 0) {
                for (Shard& shard : shards) {
                    c::DedupResult part;
                    c::removed_ranges(shard.original, shard.pieces, part);
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
