// Duplicate windows among the few contents that matter: after a pass has
// removed what repeated, every window that repeats anew holds a byte next to
// a removal or a byte the pass marked but kept, or has the bytes of one that
// does (see dedup.cpp). Those windows' contents go into a small table; one
// rolling hash over the corpus then finds every window with one of them,
// in corpus order, so that the first of each is known as it is met.
#include <algorithm>
#include <cstring>
#include <vector>

#include "corpus/duplicate_windows.hpp"
#include "corpus/window_hash.hpp"
#include "pool/cancel.hpp"

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
// chain through `next`.
class ContentTable {
public:
    struct Content {
        std::uint64_t sample;  // a window with these bytes
        std::uint64_t first = UINT64_MAX;
        std::uint64_t count = 0;
        std::uint32_t next = NONE;
    };
    static constexpr std::uint32_t NONE = UINT32_MAX;

    explicit ContentTable(std::uint64_t expected) {
        std::uint64_t slots = 16;
        while (slots < 2 * expected) slots *= 2;
        keys_.assign(slots, 0);
        heads_.assign(slots, NONE);
    }

    // The content with the bytes of the window at p, added if new.
    void add(std::uint64_t hash, const std::uint8_t* t, std::uint64_t p, std::uint64_t length) {
        std::uint64_t slot = find_slot(hash);
        if (keys_[slot] == 0) {
            keys_[slot] = hash + 1;
        }
        for (std::uint32_t c = heads_[slot]; c != NONE; c = contents_[c].next) {
            if (std::memcmp(t + contents_[c].sample, t + p, length) == 0) return;
        }
        contents_.push_back({p, UINT64_MAX, 0, heads_[slot]});
        heads_[slot] = static_cast<std::uint32_t>(contents_.size() - 1);
    }
    // The content the window at p has, or nullptr when none in the table.
    Content* find(std::uint64_t hash, const std::uint8_t* t, std::uint64_t p, std::uint64_t length) {
        const std::uint64_t slot = find_slot(hash);
        if (keys_[slot] == 0) return nullptr;
        for (std::uint32_t c = heads_[slot]; c != NONE; c = contents_[c].next) {
            if (std::memcmp(t + contents_[c].sample, t + p, length) == 0) return &contents_[c];
        }
        return nullptr;
    }

private:
    std::uint64_t find_slot(std::uint64_t hash) const {
        const std::uint64_t mask = keys_.size() - 1;
        std::uint64_t slot = (hash * 0x9E3779B97F4A7C15ull) >> 20 & mask;
        while (keys_[slot] != 0 && keys_[slot] != hash + 1) slot = (slot + 1) & mask;
        return slot;
    }

    std::vector<std::uint64_t> keys_;  // hash + 1; 0 marks a free slot
    std::vector<std::uint32_t> heads_;
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
    for (auto [lo, hi] : ranges) {
        std::uint64_t h = hash.of(t + lo);
        for (std::uint64_t p = lo;; h = hash.roll(h, t + p++)) {
            if ((p & 0xFFFF) == 0) pool::checkpoint();
            table.add(h, t, p, length);
            if (p + 1 == hi) break;
        }
    }
    for (std::size_t d = 0; d < text.documents(); ++d) {
        const std::uint64_t doc_start = text.offsets[d], doc_end = text.offsets[d + 1];
        if (doc_end - doc_start < length) continue;
        std::uint64_t h = hash.of(t + doc_start);
        for (std::uint64_t p = doc_start;; h = hash.roll(h, t + p++)) {
            if ((p & 0xFFFF) == 0) pool::checkpoint();
            if (ContentTable::Content* c = table.find(h, t, p, length)) {
                if (c->count++ == 0) {
                    c->first = p;
                } else {
                    if (keep == Keep::none && c->count == 2) duplicates.set(c->first);
                    duplicates.set(p);
                }
            }
            if (p + length == doc_end) break;
        }
    }
    return true;
}

}  // namespace veltrane::corpus
