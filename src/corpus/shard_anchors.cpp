#include "corpus/shard_anchors.hpp"

#include <algorithm>

#include "corpus/anchors.hpp"
#include "corpus/repeat_regions.hpp"
#include "pool/cancel.hpp"

namespace veltrane::corpus::shard {

std::size_t owner_of(std::span<const std::uint64_t> positions, std::uint64_t p) {
    const auto after = std::upper_bound(positions.begin(), positions.end(), p);
    return after == positions.begin() ? 0 : static_cast<std::size_t>(after - positions.begin()) - 1;
}

bool anchored(std::uint64_t min_length) { return min_length >= SAMPLED_FROM; }

std::vector<AnchorRun> anchor_runs(const CorpusText& text, std::uint64_t min_length, const Bitset* near) {
    std::vector<AnchorRun> runs;
    const anchors::Sampling s = anchors::Sampling::of(min_length);
    anchors::for_each_anchor(text, s, 0, text.size(),
                             [&](std::uint64_t, std::uint64_t fingerprint, std::uint64_t first, std::uint64_t stop) {
                                 // The windows [first, stop) cover the bytes [first, stop - 1 + length).
                                 const bool is_near = near == nullptr || near->any_in(first, stop - 1 + min_length);
                                 runs.push_back({fingerprint & ~ANCHOR_FLAGS, first, stop, is_near});
                             });
    return runs;
}

namespace {

// Each distinct key once, with its flags.
std::vector<std::uint64_t> merged_keys(const std::vector<AnchorRun>& runs) {
    std::vector<std::uint64_t> keys;
    keys.reserve(runs.size());
    for (const AnchorRun& run : runs) keys.push_back(run.key | (run.near ? ANCHOR_NEAR : 0));
    std::sort(keys.begin(), keys.end());
    std::size_t out = 0;
    for (std::size_t i = 0; i < keys.size();) {
        if ((i & 0xFFFF) == 0) pool::checkpoint();
        std::size_t j = i + 1;
        std::uint64_t flags = keys[i] & ANCHOR_FLAGS;
        for (; j < keys.size() && (keys[j] & ~ANCHOR_FLAGS) == (keys[i] & ~ANCHOR_FLAGS); ++j) {
            flags |= keys[j] & ANCHOR_FLAGS;
        }
        keys[out++] = (keys[i] & ~ANCHOR_FLAGS) | flags | (j - i >= 2 ? ANCHOR_MANY : 0);
        i = j;
    }
    keys.resize(out);
    return keys;
}

bool decided_alone(std::uint64_t record) { return (record & ANCHOR_FLAGS) == ANCHOR_FLAGS; }

}  // namespace

std::vector<std::vector<std::uint64_t>> anchor_records(const std::vector<AnchorRun>& runs, std::size_t partitions) {
    std::vector<std::vector<std::uint64_t>> parts(partitions);
    for (std::uint64_t record : merged_keys(runs)) parts[partition_of(record, partitions)].push_back(record);
    return parts;
}

Outbox candidate_keys(std::span<const FromShard> inputs) {
    struct Held {
        std::uint64_t record, shard;
        bool operator<(const Held& o) const { return record != o.record ? record < o.record : shard < o.shard; }
    };
    std::vector<Held> all;
    for (const FromShard& input : inputs) {
        for (std::uint64_t record : input.records) all.push_back({record, input.shard});
    }
    std::sort(all.begin(), all.end());
    std::vector<std::pair<std::uint64_t, std::uint64_t>> sent;  // (shard, key)
    for (std::size_t i = 0; i < all.size();) {
        if ((i & 0xFFFF) == 0) pool::checkpoint();
        const std::uint64_t key = all[i].record & ~ANCHOR_FLAGS;
        std::size_t j = i;
        std::uint64_t flags = 0;
        for (; j < all.size() && (all[j].record & ~ANCHOR_FLAGS) == key; ++j) flags |= all[j].record;
        const bool shared = j - i >= 2 || (flags & ANCHOR_MANY);
        if (shared && (flags & ANCHOR_NEAR)) {
            for (std::size_t k = i; k < j; ++k) {
                if (!decided_alone(all[k].record)) sent.emplace_back(all[k].shard, key);
            }
        }
        i = j;
    }
    std::sort(sent.begin(), sent.end());
    Outbox out;
    for (auto [shard, key] : sent) {
        if (out.empty() || out.back().first != shard) out.emplace_back(shard, std::vector<std::uint64_t>{});
        out.back().second.push_back(key);
    }
    return out;
}

std::vector<std::uint64_t> chosen_keys(const std::vector<AnchorRun>& runs, std::vector<std::uint64_t> told) {
    for (std::uint64_t record : merged_keys(runs)) {
        if (decided_alone(record)) told.push_back(record & ~ANCHOR_FLAGS);
    }
    std::sort(told.begin(), told.end());
    told.erase(std::unique(told.begin(), told.end()), told.end());
    return told;
}

}  // namespace veltrane::corpus::shard
