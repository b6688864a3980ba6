// Duplicate windows among the few contents that matter: after a pass has
// removed what repeated, every window that repeats anew holds a byte next to
// a removal or a byte the pass marked but kept, or has the bytes of one that
// does (see dedup.cpp). Those windows' contents go into a small table; one
// rolling hash over the corpus then finds every window with one of them,
// in corpus order, so that the first of each is known as it is met.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "corpus/duplicate_windows.hpp"
#include "corpus/window_hash.hpp"
#include "pool/cancel.hpp"
#include "pool/pool.hpp"

namespace veltrane::corpus {

namespace {

// The windows holding a byte of `near`, as ascending, disjoint ranges of starts.
std::vector<std::pair<std::uint64_t, std::uint64_t>> windows_near(const CorpusText& text, std::uint64_t length,
                                                                  const Bitset& near) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    std::size_t d = 0;
    near.for_each([&](std::uint64_t s) {
        while (text.offsets[d + 1] <= s) ++d;
        const std::uint64_t doc_start = text.offsets[d], doc_end = text.offsets[d + 1];
        if (doc_end - doc_start < length) return;
        const std::uint64_t lo = std::max(doc_start, s + 1 >= length ? s + 1 - length : 0);
        const std::uint64_t hi = std::min(s, doc_end - length) + 1;
        if (lo >= hi) return;
        if (!ranges.empty() && lo <= ranges.back().second) {
            ranges.back().second = std::max(ranges.back().second, hi);
        } else {
            ranges.emplace_back(lo, hi);
        }
    });
    return ranges;
}

// Contents by hash, open addressing; equal hashes of different contents
// chain through `next`. In front of it a filter of one bit per hash value
// bucket, eight to sixteen buckets per content: the scan asks it for every window of
// the corpus, and it answers most of them from the cache.
class ContentTable {
public:
    struct Content {
        std::uint64_t sample;  // a window with these bytes
        std::uint64_t first = UINT64_MAX;
        std::uint64_t count = 0;  // windows met
        std::uint32_t next = NONE;
    };
    static constexpr std::uint32_t NONE = UINT32_MAX;

    explicit ContentTable(std::uint64_t expected) {
        std::uint64_t slots = 16;
        while (slots < 2 * expected) slots *= 2;
        slots_.assign(slots, Slot{});
        filter_.assign(std::max<std::uint64_t>(1, slots / 16), 0);  // 8 to 16 bits per content
    }

    // The content with the bytes of the window at p, added if new.
    std::uint32_t add(std::uint64_t hash, const std::uint8_t* t, std::uint64_t p, std::uint64_t length) {
        Slot& slot = slots_[find_slot(hash)];
        slot.key = hash + 1;
        for (std::uint32_t c = slot.head; c != NONE; c = contents_[c].next) {
            if (std::memcmp(t + contents_[c].sample, t + p, length) == 0) return c;
        }
        contents_.push_back({p, UINT64_MAX, 0, slot.head});
        slot.head = static_cast<std::uint32_t>(contents_.size() - 1);
        for (std::uint64_t bit : filter_bits(hash)) filter_[bit >> 6] |= std::uint64_t{1} << (bit & 63);
        return slot.head;
    }
    // The content the window at p has, or NONE.
    std::uint32_t find(std::uint64_t hash, const std::uint8_t* t, std::uint64_t p, std::uint64_t length) const {
        for (std::uint64_t bit : filter_bits(hash)) {
            if (!((filter_[bit >> 6] >> (bit & 63)) & 1)) return NONE;
        }
        const Slot& slot = slots_[find_slot(hash)];
        if (slot.key == 0) return NONE;
        for (std::uint32_t c = slot.head; c != NONE; c = contents_[c].next) {
            if (std::memcmp(t + contents_[c].sample, t + p, length) == 0) return c;
        }
        return NONE;
    }
    Content& operator[](std::uint32_t c) { return contents_[c]; }

private:
    struct Slot {
        std::uint64_t key = 0;  // hash + 1; 0 marks a free slot
        std::uint32_t head = NONE;
    };

    // Two bits per content (false positives about 2.5% at 14 bits per content).
    std::array<std::uint64_t, 2> filter_bits(std::uint64_t hash) const {
        const std::uint64_t mask = filter_.size() * 64 - 1;
        return {hash & mask, (hash >> 30) & mask};
    }

    std::uint64_t find_slot(std::uint64_t hash) const {
        const std::uint64_t mask = slots_.size() - 1;
        std::uint64_t slot = ((hash * 0x9E3779B97F4A7C15ull) >> 20) & mask;
        while (slots_[slot].key != 0 && slots_[slot].key != hash + 1) slot = (slot + 1) & mask;
        return slot;
    }

    std::vector<Slot> slots_;
    std::vector<std::uint64_t> filter_;
    std::vector<Content> contents_;
};

}  // namespace

bool duplicate_windows_near(const CorpusText& text, std::uint64_t length, Keep keep, const Bitset& near,
                            Bitset& duplicates, std::uint64_t most_near) {
    if (length == 0 || text.size() < length) return true;
    const auto ranges = windows_near(text, length, near);
    std::uint64_t candidates = 0;
    for (auto [lo, hi] : ranges) candidates += hi - lo;
    if (candidates == 0) return true;
    if (candidates > most_near || candidates >= ContentTable::NONE / 2) return false;

    const std::uint8_t* t = text.bytes;
    const WindowHash hash(length);
    ContentTable table(candidates);
    // The windows near the removals know their content from here on: the
    // scan looks up only the others.
    std::vector<std::uint32_t> near_content;
    std::vector<std::uint64_t> near_index;  // of each range's first window in near_content
    near_content.reserve(candidates);
    for (auto [lo, hi] : ranges) {
        near_index.push_back(near_content.size());
        for_each_window_hash(text, hash, length, lo, hi,
                        [&](std::uint64_t p, std::uint64_t h) { near_content.push_back(table.add(h, t, p, length)); });
    }
    // The windows with one of those contents, found on the workers piece by
    // piece, then taken in corpus order so that the first of each is known.
    const std::size_t pieces = text.size() < (1u << 20) ? 1 : pool::piece_count(text.size());
    std::vector<std::vector<std::pair<std::uint64_t, std::uint32_t>>> hits(pieces);
    pool::run_tasks(pieces, [&](std::size_t piece) {
        const auto [begin, end] = pool::piece_range(text.size(), pieces, piece);
        const std::uint64_t from = begin;  // clang 14 lets no lambda capture a structured binding
        std::size_t r = static_cast<std::size_t>(
            std::partition_point(ranges.begin(), ranges.end(), [&](const auto& range) { return range.second <= from; }) -
            ranges.begin());
        for_each_window_hash(text, hash, length, begin, end, [&](std::uint64_t p, std::uint64_t h) {
            while (r < ranges.size() && ranges[r].second <= p) ++r;
            const std::uint32_t c = r < ranges.size() && p >= ranges[r].first
                                        ? near_content[near_index[r] + (p - ranges[r].first)]
                                        : table.find(h, t, p, length);
            if (c != ContentTable::NONE) hits[piece].emplace_back(p, c);
        });
    });
    for (auto& piece : hits) {
        pool::checkpoint();
        for (auto [p, index] : piece) {
            ContentTable::Content& c = table[index];
            if (c.count++ == 0) {
                c.first = p;
            } else {
                if (keep == Keep::none && c.count == 2) duplicates.set(c.first);
                duplicates.set(p);
            }
        }
        piece = {};
    }
    return true;
}

}  // namespace veltrane::corpus
