#include "corpus/shard_windows.hpp"

#include <algorithm>
#include <cstring>

#include "corpus/duplicate_windows.hpp"
#include "corpus/window_hash.hpp"
#include "pool/cancel.hpp"

namespace veltrane::corpus::shard {

Bitset candidate_windows(const CorpusText& text, std::uint64_t min_length, const std::vector<AnchorRun>& runs,
                         std::span<const std::uint64_t> keys) {
    if (!anchored(min_length)) return window_starts(text, min_length);
    Bitset candidates(text.size());
    for (const AnchorRun& run : runs) {
        if (std::binary_search(keys.begin(), keys.end(), run.key)) candidates.set_range(run.first, run.stop);
    }
    return candidates;
}

namespace {

struct Hashed {
    std::uint64_t hash, position;  // position in the shard
    bool operator<(const Hashed& o) const { return hash != o.hash ? hash < o.hash : position < o.position; }
};

// Every candidate's hash, rolled along each run of consecutive candidates.
std::vector<Hashed> hashed_candidates(const CorpusText& text, std::uint64_t length, const Bitset& candidates,
                                      std::uint64_t hash_base) {
    const WindowHash hash(length, hash_base);
    std::vector<Hashed> all;
    std::uint64_t next = UINT64_MAX, h = 0;
    candidates.for_each([&](std::uint64_t p) {
        if ((all.size() & 0xFFFF) == 0) pool::checkpoint();
        h = p == next ? hash.roll(h, text.bytes + p - 1) : hash.of(text.bytes + p);
        all.push_back({h, p});
        next = p + 1;
    });
    return all;
}

}  // namespace

WindowRecords window_records(const CorpusText& text, std::uint64_t position, const DedupOptions& options,
                             const Bitset& candidates, std::uint64_t hash_base, std::size_t partitions) {
    const std::uint64_t length = options.min_length;
    WindowRecords out;
    out.parts.resize(partitions);
    out.duplicates = Bitset(text.size());
    std::vector<Hashed> all = hashed_candidates(text, length, candidates, hash_base);
    std::sort(all.begin(), all.end());
    for (std::size_t i = 0; i < all.size();) {
        if ((i & 0xFFF) == 0) pool::checkpoint();
        std::size_t j = i + 1;
        for (; j < all.size() && all[j].hash == all[i].hash; ++j) {
            if (std::memcmp(text.bytes + all[i].position, text.bytes + all[j].position, length) != 0) {
                out.collided = true;  // a new base will part them
                return out;
            }
        }
        for (std::size_t k = options.keep == Keep::first ? i + 1 : i; k < j && (j - i >= 2); ++k) {
            out.duplicates.set(all[k].position);
        }
        auto& part = out.parts[partition_of(all[i].hash << 3, partitions)];
        part.push_back(all[i].hash | (j - i >= 2 ? WINDOW_MANY : 0));
        part.push_back(position + all[i].position);
        i = j;
    }
    return out;
}

}  // namespace veltrane::corpus::shard
