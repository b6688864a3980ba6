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

std::vector<ClassedRun> classed_runs(const CorpusText& text, std::uint64_t length, const std::vector<HalfRun>& halves,
                                     const Bitset* near, std::uint64_t hash_base) {
    std::vector<ClassedRun> runs;
    const WindowHash hash(length, hash_base);
    HashCursor cursor(text.bytes, hash, length);
    with_documents(text, length, halves, [&](const HalfRun& half, std::uint64_t window_end, std::uint64_t) {
        const Span span = by_first_half(half, window_end);
        for (std::uint64_t a = span.first; a < span.stop; a += MOST_RUN_WINDOWS) {
            const std::uint64_t b = std::min(span.stop, a + MOST_RUN_WINDOWS);
            const std::uint64_t first_hash = cursor.at(a);
            const std::uint64_t cls = class_of(first_hash, cursor.at(b - 1), b - a);
            const bool is_near = near == nullptr || near->any_in(a, b - 1 + length);
            runs.push_back({half.first_key, cls, a, b, is_near});
        }
    });
    return runs;
}

// One record per distinct second key: held twice when two anchors have it.
std::vector<std::uint64_t> second_key_records(const CorpusText& text, std::uint64_t length,
                                              const std::vector<HalfRun>& halves, const Bitset* near) {
    const std::uint64_t f = length - length / 2;
    std::vector<std::uint64_t> keys;
    with_documents(text, length, halves, [&](const HalfRun& half, std::uint64_t window_end, std::uint64_t start) {
        const Span span = by_second_half(half, f, start, window_end);
        if (span.empty()) return;
        const bool is_near = near == nullptr || near->any_in(span.first, span.stop - 1 + length);
        keys.push_back(half.second_key | (is_near ? RUN_NEAR : 0));
    });
    std::sort(keys.begin(), keys.end());
    std::size_t out = 0;
    for (std::size_t i = 0; i < keys.size();) {
        std::size_t j = i + 1;
        std::uint64_t flags = keys[i] & RUN_FLAGS;
        for (; j < keys.size() && key_of(keys[j]) == key_of(keys[i]); ++j) flags |= keys[j] & RUN_FLAGS;
        keys[out++] = key_of(keys[i]) | flags | (j - i >= 2 ? RUN_MANY : 0);
        i = j;
    }
    keys.resize(out);
    return keys;
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
    out.second_keys.resize(partitions);
    out.duplicates = Bitset(text.size());
    const std::vector<HalfRun> halves = half_runs(text, length);
    for (std::uint64_t record : second_key_records(text, length, halves, near)) {
        out.second_keys[partition_of(record, partitions)].push_back(record);
    }
    std::vector<ClassedRun> runs = classed_runs(text, length, halves, near, hash_base);
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

// A record at a partition: 32 bytes, so that a partition's share of the
// corpus's records fits beside the records as received.
struct Held {
    std::uint64_t key, cls, where;  // where: position << RUN_WINDOW_BITS | windows
    std::uint64_t shard_flags;      // shard << 2 | flags
    std::uint64_t position() const { return where >> RUN_WINDOW_BITS; }
    std::uint64_t windows() const { return where & MOST_RUN_WINDOWS; }
    std::uint64_t shard() const { return shard_flags >> 2; }
    std::uint64_t flags() const { return shard_flags & RUN_FLAGS; }
    bool operator<(const Held& o) const {
        return key != o.key ? key < o.key : cls != o.cls ? cls < o.cls : where < o.where;
    }
};
static_assert(RUN_FLAGS < 4, "the flags fit below the shard");

}  // namespace

namespace {

// (shard, key) pairs as an outbox: each shard's keys, ascending, once.
Outbox by_shard(std::vector<std::pair<std::uint64_t, std::uint64_t>> pairs) {
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    Outbox out;
    for (auto [shard, key] : pairs) {
        if (out.empty() || out.back().first != shard) out.emplace_back(shard, std::vector<std::uint64_t>{});
        out.back().second.push_back(key);
    }
    return out;
}

// The second keys held twice or more, one of them near, for each shard holding one.
Outbox shared_second_keys(std::span<const FromShard> inputs) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> all;  // (record, shard)
    for (const FromShard& input : inputs) {
        for (std::uint64_t record : input.records) all.emplace_back(record, input.shard);
    }
    std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return key_of(a.first) < key_of(b.first); });
    std::vector<std::pair<std::uint64_t, std::uint64_t>> told;  // (shard, key)
    for (std::size_t i = 0; i < all.size();) {
        if ((i & 0xFFFF) == 0) pool::checkpoint();
        std::size_t j = i;
        std::uint64_t flags = 0, held = 0;
        for (; j < all.size() && key_of(all[j].first) == key_of(all[i].first); ++j) {
            flags |= all[j].first & RUN_FLAGS;
            held += (all[j].first & RUN_MANY) ? 2 : 1;
        }
        if (held >= 2 && (flags & RUN_NEAR)) {
            for (std::size_t k = i; k < j; ++k) told.emplace_back(all[k].second, key_of(all[k].first));
        }
        i = j;
    }
    return by_shard(std::move(told));
}

}  // namespace

RunDecisions run_decisions(std::span<const FromShard> inputs, std::span<const FromShard> second_keys, Keep keep,
                           std::span<const std::uint64_t> positions) {
    std::vector<Held> all;
    for (const FromShard& input : inputs) {
        if (input.records.size() % 3 != 0) throw std::invalid_argument("run records come in triples");
        for (std::size_t i = 0; i < input.records.size(); i += 3) {
            const std::uint64_t word = input.records[i];
            all.push_back({word & ~RUN_FLAGS, input.records[i + 1], input.records[i + 2], input.shard << 2 | (word & RUN_FLAGS)});
        }
    }
    std::sort(all.begin(), all.end());
    struct Claim {
        std::uint64_t owner, held, claiming, windows;
        bool operator<(const Claim& o) const { return owner != o.owner ? owner < o.owner : held < o.held; }
    };
    std::vector<Claim> claims;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> representatives;  // (shard, index in `all`)
    std::vector<std::pair<std::size_t, std::size_t>> classes;
    auto claim = [&](const Held& held, const Held& claiming) {
        claims.push_back({owner_of(positions, held.position()), held.position(), claiming.position(), claiming.windows()});
    };
    for (std::size_t i = 0; i < all.size();) {
        if ((i & 0xFFFF) == 0) pool::checkpoint();
        std::size_t j = i;
        std::uint64_t flags = 0, held = 0;
        for (; j < all.size() && all[j].key == all[i].key; ++j) {
            flags |= all[j].flags();
            held += (all[j].flags() & RUN_MANY) ? 2 : 1;
        }
        if (held >= 2 && (flags & RUN_NEAR)) {
            // The key's classes, each led by its representative. Runs of one class have
            // one length; two lengths mean two classes whose hashes collided.
            classes.clear();
            for (std::size_t k = i; k < j;) {
                std::size_t l = k + 1;
                while (l < j && all[l].cls == all[k].cls && all[l].windows() == all[k].windows()) ++l;
                classes.emplace_back(k, l);
                k = l;
            }
            for (auto [k, l] : classes) {
                std::uint64_t copies = 0;
                for (std::size_t m = k; m < l; ++m) copies += (all[m].flags() & RUN_MANY) ? 2 : 1;
                if (keep == Keep::first) {
                    for (std::size_t m = k + 1; m < l; ++m) claim(all[k], all[m]);
                } else if (copies >= 2) {
                    for (std::size_t m = k; m < l; ++m) {
                        if (!(all[m].flags() & RUN_MANY)) claim(all[m == k ? k + 1 : k], all[m]);
                    }
                }
                if (classes.size() >= 2) representatives.emplace_back(all[k].shard(), k);
            }
        }
        i = j;
    }
    std::sort(representatives.begin(), representatives.end());
    RunDecisions out;
    for (auto [shard, k] : representatives) {
        if (out.representatives.empty() || out.representatives.back().first != shard) {
            out.representatives.emplace_back(shard, std::vector<std::uint64_t>{});
        }
        out.representatives.back().second.insert(out.representatives.back().second.end(),
                                                  {all[k].position(), all[k].windows()});
    }
    std::vector<Held>().swap(all);
    std::sort(claims.begin(), claims.end());
    for (const Claim& c : claims) {
        if (out.claims.empty() || out.claims.back().first != c.owner) out.claims.emplace_back(c.owner, std::vector<std::uint64_t>{});
        out.claims.back().second.insert(out.claims.back().second.end(), {c.held, c.claiming, c.windows});
    }
    out.shared = shared_second_keys(second_keys);
    return out;
}

}  // namespace veltrane::corpus::shard
