#include "corpus/shard_runs.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "corpus/anchors.hpp"
#include "corpus/window_hash.hpp"
#include "pool/cancel.hpp"

namespace veltrane::corpus::shard {

namespace {

struct ClassedRun {
    std::uint64_t key, cls, first, stop;
    bool near;
};

// The hash of the window at p, for p never decreasing: rolled from the last
// one when that is cheaper than hashing the window afresh.
class HashCursor {
public:
    HashCursor(const std::uint8_t* bytes, const WindowHash& hash, std::uint64_t length)
        : bytes_(bytes), hash_(hash), length_(length) {}

    std::uint64_t at(std::uint64_t p) {
        if (at_ == UINT64_MAX || p - at_ > length_) {
            h_ = hash_.of(bytes_ + p);
        } else {
            for (; at_ < p; ++at_) h_ = hash_.roll(h_, bytes_ + at_);
        }
        at_ = p;
        return h_;
    }

private:
    const std::uint8_t* bytes_;
    const WindowHash& hash_;
    std::uint64_t length_, at_ = UINT64_MAX, h_ = 0;
};

// The first and the last window fill every byte of a run (it holds fewer
// windows than a window has bytes), so their hashes and the count name its bytes.
std::uint64_t class_of(std::uint64_t first_hash, std::uint64_t last_hash, std::uint64_t windows) {
    return anchors::mix(anchors::mix(anchors::mix(first_hash) ^ last_hash) ^ windows);
}

std::vector<ClassedRun> classed_runs(const CorpusText& text, std::uint64_t length, const Bitset* near,
                                     std::uint64_t hash_base) {
    std::vector<ClassedRun> runs;
    const WindowHash hash(length, hash_base);
    HashCursor cursor(text.bytes, hash, length);
    anchors::for_each_anchor(text, anchors::Sampling::of(length), 0, text.size(),
                             [&](std::uint64_t, std::uint64_t fingerprint, std::uint64_t first, std::uint64_t stop) {
                                 for (std::uint64_t a = first; a < stop; a += MOST_RUN_WINDOWS) {
                                     const std::uint64_t b = std::min(stop, a + MOST_RUN_WINDOWS);
                                     const std::uint64_t first_hash = cursor.at(a);
                                     const std::uint64_t cls = class_of(first_hash, cursor.at(b - 1), b - a);
                                     const bool is_near = near == nullptr || near->any_in(a, b - 1 + length);
                                     runs.push_back({key_of(fingerprint), cls, a, b, is_near});
                                 }
                             });
    return runs;
}

}  // namespace

RunRecords run_records(const CorpusText& text, std::uint64_t position, const DedupOptions& options,
                       const Bitset* near, std::uint64_t hash_base, std::size_t partitions) {
    const std::uint64_t length = options.min_length;
    if (position + text.size() > RECORD_POSITIONS) {
        throw std::invalid_argument("the corpus is too large for a deduplication on a cluster (256 TiB at most)");
    }
    RunRecords out;
    out.parts.resize(partitions);
    out.duplicates = Bitset(text.size());
    std::vector<ClassedRun> runs = classed_runs(text, length, near, hash_base);
    std::sort(runs.begin(), runs.end(), [](const ClassedRun& a, const ClassedRun& b) {
        return a.key != b.key ? a.key < b.key : a.cls != b.cls ? a.cls < b.cls : a.first < b.first;
    });
    for (std::size_t i = 0; i < runs.size();) {
        if ((i & 0xFFF) == 0) pool::checkpoint();
        const ClassedRun& head = runs[i];
        const std::uint64_t windows = head.stop - head.first, bytes = windows - 1 + length;
        std::size_t j = i + 1;
        bool is_near = head.near;
        for (; j < runs.size() && runs[j].key == head.key && runs[j].cls == head.cls; ++j) {
            if (runs[j].stop - runs[j].first != windows ||
                std::memcmp(text.bytes + runs[j].first, text.bytes + head.first, bytes) != 0) {
                out.collided = true;  // a new base will part them
                return out;
            }
            is_near = is_near || runs[j].near;
        }
        if (j - i >= 2) {
            for (std::size_t k = options.keep == Keep::first ? i + 1 : i; k < j; ++k) {
                out.duplicates.set_range(runs[k].first, runs[k].stop);
            }
        }
        auto& part = out.parts[partition_of(head.key, partitions)];
        part.push_back(head.key | (j - i >= 2 ? RUN_MANY : 0) | (is_near ? RUN_NEAR : 0));
        part.push_back(head.cls);
        part.push_back((position + head.first) << RUN_WINDOW_BITS | windows);
        i = j;
    }
    return out;
}

namespace {

struct Held {
    std::uint64_t key, flags, cls, position, windows, shard;
    bool operator<(const Held& o) const {
        return key != o.key ? key < o.key : cls != o.cls ? cls < o.cls : position < o.position;
    }
};

}  // namespace

RunDecisions run_decisions(std::span<const FromShard> inputs, Keep keep, std::span<const std::uint64_t> positions) {
    std::vector<Held> all;
    for (const FromShard& input : inputs) {
        if (input.records.size() % 3 != 0) throw std::invalid_argument("run records come in triples");
        for (std::size_t i = 0; i < input.records.size(); i += 3) {
            const std::uint64_t word = input.records[i], where = input.records[i + 2];
            all.push_back({word & ~RUN_FLAGS, word & RUN_FLAGS, input.records[i + 1], where >> RUN_WINDOW_BITS,
                           where & MOST_RUN_WINDOWS, input.shard});
        }
    }
    std::sort(all.begin(), all.end());
    struct Claim {
        std::uint64_t owner, held, claiming, windows;
        bool operator<(const Claim& o) const { return owner != o.owner ? owner < o.owner : held < o.held; }
    };
    std::vector<Claim> claims;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> mixed;  // (shard, key)
    auto claim = [&](const Held& held, const Held& claiming) {
        claims.push_back({owner_of(positions, held.position), held.position, claiming.position, claiming.windows});
    };
    for (std::size_t i = 0; i < all.size();) {
        if ((i & 0xFFFF) == 0) pool::checkpoint();
        std::size_t j = i;
        std::uint64_t flags = 0, held = 0;
        bool one_class = true;
        for (; j < all.size() && all[j].key == all[i].key; ++j) {
            flags |= all[j].flags;
            held += (all[j].flags & RUN_MANY) ? 2 : 1;
            // Runs of one class have one length; two lengths mean two classes that collided.
            one_class = one_class && all[j].cls == all[i].cls && all[j].windows == all[i].windows;
        }
        if (held >= 2 && (flags & RUN_NEAR)) {
            if (!one_class) {
                for (std::size_t k = i; k < j; ++k) mixed.emplace_back(all[k].shard, all[k].key);
            } else if (keep == Keep::first) {
                for (std::size_t k = i + 1; k < j; ++k) claim(all[i], all[k]);
            } else {
                for (std::size_t k = i; k < j; ++k) {
                    if (!(all[k].flags & RUN_MANY)) claim(all[k == i ? i + 1 : i], all[k]);
                }
            }
        }
        i = j;
    }
    std::sort(claims.begin(), claims.end());
    std::sort(mixed.begin(), mixed.end());
    mixed.erase(std::unique(mixed.begin(), mixed.end()), mixed.end());
    RunDecisions out;
    for (const Claim& c : claims) {
        if (out.claims.empty() || out.claims.back().first != c.owner) out.claims.emplace_back(c.owner, std::vector<std::uint64_t>{});
        out.claims.back().second.insert(out.claims.back().second.end(), {c.held, c.claiming, c.windows});
    }
    for (auto [shard, key] : mixed) {
        if (out.mixed.empty() || out.mixed.back().first != shard) out.mixed.emplace_back(shard, std::vector<std::uint64_t>{});
        out.mixed.back().second.push_back(key);
    }
    return out;
}

}  // namespace veltrane::corpus::shard
