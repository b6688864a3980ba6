// The counts behind multi_mmc and lz78y: for the contexts of one length (the
// last `length` symbols, packed `bits` to a symbol into a code), how often each
// symbol followed, and the one that followed most often (on equal counts the
// largest symbol, as the recorded outputs show for both predictors).
//
// Short codes index flat arrays (short contexts of small alphabets); contexts
// of up to 16 bits index a flat array of their own with their (context, symbol)
// counts in an open-addressing table (order 2 of bytes: 512 KB, where a table
// of contexts cost a miss in its slots, one in its entries and two in the data
// at every step); longer ones go to an open-addressing table of contexts too.
// Both predictors bound what is admitted, so the table stays bounded whatever n
// is. Count is the counter type, wide enough for n (see counters.hpp).
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace veltrane::sp800_90b {

using ContextCode = unsigned __int128;

// A context looked up: its entry (NONE: not admitted), the count of its most
// frequent successor and that successor.
struct ContextHit {
    std::uint32_t entry = ~std::uint32_t{0};
    std::uint64_t count = 0;
    std::uint8_t best = 0;
};

template <class Count>
class ContextDictionary {
public:
    using Code = ContextCode;
    static constexpr std::uint32_t NONE = ~std::uint32_t{0};

    // `expected`: about how many contexts it will admit, to size the table once.
    // `data`: the symbols the contexts are taken from, which the table reads
    // back to tell its contexts apart.
    ContextDictionary(unsigned length, unsigned bits, std::size_t expected, const std::uint8_t* data)
        : bits_(bits), length_(length), data_(data) {
        const unsigned pair_bits = (length + 1) * bits;
        flat_ = pair_bits <= FLAT_BITS;
        direct_ = !flat_ && length * bits <= DIRECT_BITS;
        if (flat_ || direct_) best_.assign(std::size_t{1} << (length * bits), Best{});
        if (flat_) {
            count_.assign(std::size_t{1} << pair_bits, 0);
        } else if (direct_) {
            pair_slots_.assign(64, Pair{});
        } else {
            std::size_t slots = 64;
            while (4 * slots < 5 * expected) slots *= 2;
            slots_.assign(slots, 0);
            entries_.reserve(expected);  // not the doubling's up to 1.3 times that
            pair_slots_.assign(64, Pair{});  // only contexts with two successors or more: grown as needed
        }
    }

    // The context's entry, or NONE while it has not been admitted.
    std::uint32_t find(ContextCode code) const {
        if (flat_ || direct_) {
            return best_[static_cast<std::size_t>(code)].count != 0 ? static_cast<std::uint32_t>(code) : NONE;
        }
        const std::size_t h = hash(code);
        const std::uint32_t tag = tag_of(h);
        for (std::size_t at = h & (slots_.size() - 1);; at = (at + 1) & (slots_.size() - 1)) {
            const std::uint32_t slot = slots_[at];
            if (slot == 0) return NONE;
            if ((slot & ~INDEX) == tag && code_at(entries_[(slot & INDEX) - 1].end) == code) return (slot & INDEX) - 1;
        }
    }

    ContextHit lookup(ContextCode code) const {
        const std::uint32_t e = find(code);
        if (e == NONE) return ContextHit{};
        return ContextHit{e, best_count(e), best(e)};
    }

    // Asks for the memory find(code) reads first, for a context needed a few
    // steps later (the data says which); the shortest stay in the L1 cache.
    static constexpr unsigned FIRST_PREFETCHED = 2;
    void prefetch(ContextCode code) const {
        if (flat_ || direct_) {
            __builtin_prefetch(&best_[static_cast<std::size_t>(code)]);
        } else {
            __builtin_prefetch(&slots_[hash(code) & (slots_.size() - 1)]);
        }
    }

    // Admits a context, the symbols ending at data[end], with y seen after it once.
    std::uint32_t add(ContextCode code, std::size_t end, std::uint8_t y) {
        ++contexts_;
        if (flat_) {
            const auto e = static_cast<std::uint32_t>(code);
            increment(e, y, true);
            return e;
        }
        if (direct_) {
            const auto e = static_cast<std::uint32_t>(code);
            best_[e] = Best{1, y, false};
            ++pairs_;
            return e;
        }
        if (5 * (entries_.size() + 1) > 4 * slots_.size()) grow();
        const auto e = static_cast<std::uint32_t>(entries_.size());
        entries_.push_back(Entry{static_cast<Count>(end), Best{1, y, false}});
        place(e, hash(code));
        ++pairs_;
        return e;
    }

    // One more y after the context of entry e; a symbol not yet seen after it
    // is admitted only if `admit`.
    void increment(std::uint32_t e, std::uint8_t y, bool admit) {
        Count c;
        if (flat_) {
            Count& slot = count_[(std::size_t{e} << bits_) | y];
            if (slot == 0 && !admit) return;
            c = ++slot;
        } else {
            Best& entry = best_of(e);
            if (!entry.many) {
                // its one successor so far is its best
                if (y == entry.y) {
                    ++entry.count;
                    return;
                }
                if (!admit) return;
                entry.many = true;
                pair_count(e, entry.y) = entry.count;
                c = ++pair_count(e, y);
            } else {
                Count* count = find_pair(e, y, admit);
                if (count == nullptr) return;
                c = ++*count;
            }
        }
        if (c == 1) ++pairs_;
        Best& b = best_of(e);
        if (c > b.count || (c == b.count && y > b.y)) b.count = c, b.y = y;
    }

    // The symbol seen most often after the context of entry e.
    std::uint8_t best(std::uint32_t e) const { return best_of(e).y; }
    Count best_count(std::uint32_t e) const { return best_of(e).count; }

    std::size_t contexts() const { return contexts_; }
    std::size_t pairs() const { return pairs_; }

private:
    static constexpr unsigned FLAT_BITS = 18;
    static constexpr unsigned DIRECT_BITS = 16;

    struct Best {
        Count count = 0;
        std::uint8_t y = 0;
        // (direct and tables; in the padding) whether more than one successor was
        // seen; until then count and y are the one and its count, and
        // pair_slots_ holds nothing of the context (so most contexts, seen once
        // or always followed alike, never touch it)
        bool many = false;
    };
    // (entry << 8 | y) + 1 (0: an empty slot) and its count
    struct Pair {
        std::uint32_t key = 0;
        Count count = 0;
    };
    struct Entry {
        // where the context ends in the data, rather than its code: 12 bytes
        // an entry (with 32-bit counts, below 2^31 samples), not 24. Count is
        // wide enough for any place in the data.
        Count end;
        Best best;
    };
    static_assert(sizeof(Entry) == 3 * sizeof(Count));

    Best& best_of(std::uint32_t e) { return flat_ || direct_ ? best_[e] : entries_[e].best; }
    const Best& best_of(std::uint32_t e) const { return flat_ || direct_ ? best_[e] : entries_[e].best; }

    // The code of the context of this length ending at data[end].
    ContextCode code_at(std::size_t end) const {
        ContextCode code = 0;
        for (const std::uint8_t* p = data_ + end + 1 - length_; p <= data_ + end; ++p) code = (code << bits_) | *p;
        return code;
    }

    static std::size_t hash(ContextCode code) {
        auto mix = [](std::uint64_t x) {
            x ^= x >> 33;
            x *= 0xff51afd7ed558ccdULL;
            x ^= x >> 33;
            x *= 0xc4ceb9fe1a85ec53ULL;
            return x ^ (x >> 33);
        };
        return static_cast<std::size_t>(mix(static_cast<std::uint64_t>(code) ^ mix(static_cast<std::uint64_t>(code >> 64))));
    }

    // A slot holds the entry + 1 in its low 17 bits (0: empty) and 15 bits of
    // the hash above them, so that a miss rarely reads an entry. Both
    // predictors admit fewer than 2^17 contexts per length.
    static constexpr std::uint32_t INDEX = (1u << 17) - 1;
    static std::uint32_t tag_of(std::size_t h) { return static_cast<std::uint32_t>(h >> 32) << 17; }

    // Enters entry e, of the context whose hash is h, in slots_.
    void place(std::uint32_t e, std::size_t h) {
        std::size_t at = h & (slots_.size() - 1);
        while (slots_[at] != 0) at = (at + 1) & (slots_.size() - 1);
        slots_[at] = tag_of(h) | (e + 1);
    }

    std::size_t pair_slot(std::uint32_t key) const {
        return static_cast<std::size_t>((std::uint64_t{key} * 0x9E3779B97F4A7C15ULL) >> 20) & (pair_slots_.size() - 1);
    }

    // The slot of (e, y): found, or if `admit` taken (count 0); else nullptr.
    Count* find_pair(std::uint32_t e, std::uint8_t y, bool admit) {
        const std::uint32_t key = ((e << 8) | y) + 1;
        std::size_t at = pair_slot(key);
        while (pair_slots_[at].key != 0 && pair_slots_[at].key != key) at = (at + 1) & (pair_slots_.size() - 1);
        if (pair_slots_[at].key == 0) {
            if (!admit) return nullptr;
            if (5 * (pair_slots_used_ + 1) > 4 * pair_slots_.size()) {
                grow_pairs();
                return find_pair(e, y, admit);
            }
            ++pair_slots_used_;
            pair_slots_[at] = Pair{key, 0};
        }
        return &pair_slots_[at].count;
    }
    Count& pair_count(std::uint32_t e, std::uint8_t y) { return *find_pair(e, y, true); }

    void grow_pairs() {
        std::vector<Pair> old(2 * pair_slots_.size());
        old.swap(pair_slots_);
        for (const Pair& slot : old) {
            if (slot.key == 0) continue;
            std::size_t at = pair_slot(slot.key);
            while (pair_slots_[at].key != 0) at = (at + 1) & (pair_slots_.size() - 1);
            pair_slots_[at] = slot;
        }
    }

    void grow() {
        slots_.assign(slots_.size() * 2, 0);
        for (std::uint32_t e = 0; e < entries_.size(); ++e) place(e, hash(code_at(entries_[e].end)));
    }

    unsigned bits_, length_;
    const std::uint8_t* data_;
    bool flat_, direct_;
    std::size_t contexts_ = 0, pairs_ = 0, pair_slots_used_ = 0;
    // flat: count_[code << bits | y] and best_[code]; direct: best_[code] and
    // the (code, y) counts in pair_slots_
    std::vector<Count> count_;
    std::vector<Best> best_;
    // table: slots_ as place() fills them, the entries, and the (entry, y)
    // counts in pair_slots_
    std::vector<std::uint32_t> slots_;
    std::vector<Entry> entries_;
    std::vector<Pair> pair_slots_;
};

// Whether the last g symbols occurred before, ending two or more places back: a
// context of length d >= g can be in a dictionary only if it did, since each
// was admitted as the context of an earlier successor. On wide symbols almost
// every long context is new, so this one lookup in a bitmap of all g-grams
// (g = 24 / bits, 2 MB) spares the tables' lookups for every longer length.
class RepeatFilter {
public:
    explicit RepeatFilter(unsigned bits) : g_(24 / bits), seen_((std::size_t{1} << (g_ * bits)) / 64 + 1, 0) {
        mask_ = (ContextCode{1} << (g_ * bits)) - 1;
    }

    unsigned length() const { return g_; }

    // `history` ends at i - 1 and holds at least g symbols: did its last g
    // occur ending at i - 2 or before? Then it is recorded for the next call.
    void prefetch(ContextCode history) const {
        __builtin_prefetch(&seen_[static_cast<std::size_t>(history & mask_) / 64]);
    }

    // Whether the last g symbols of `history` occurred so far, not recording
    // them: for deciding what to prefetch, a guess that may miss those to come.
    bool seen(ContextCode history) const {
        const auto at = static_cast<std::size_t>(history & mask_);
        return (seen_[at / 64] >> (at % 64)) & 1;
    }

    bool repeated(ContextCode history) {
        const auto at = static_cast<std::size_t>(history & mask_);
        std::uint64_t& word = seen_[at / 64];
        const std::uint64_t bit = std::uint64_t{1} << (at % 64);
        const bool before = (word & bit) != 0;
        word |= bit;
        return before;
    }

private:
    unsigned g_;
    ContextCode mask_;
    std::vector<std::uint64_t> seen_;
};

// How many steps ahead the predictors ask for the memory of their lookups.
inline constexpr std::size_t LOOKAHEAD = 12;

// The bits a symbol below k takes in a context code.
inline unsigned symbol_bits(unsigned k) {
    unsigned b = 1;
    while (b < 8 && (1u << b) < k) ++b;
    return b;
}

}  // namespace veltrane::sp800_90b
