// The counts behind multi_mmc and lz78y: for the contexts of one length (the
// last `length` symbols, packed `bits` to a symbol into a code), how often each
// symbol followed, and the one that followed most often (on equal counts the
// largest symbol, as the recorded outputs show for both predictors).
//
// Short codes index flat arrays (binary data and short contexts); longer ones go
// to an open-addressing table of contexts, each with a short list of the
// symbols seen after it. Both predictors bound what is admitted, so the table
// stays bounded whatever n is.
#pragma once

#include <cstdint>
#include <vector>

namespace veltrane::sp800_90b {

using ContextCode = unsigned __int128;

class ContextDictionary {
public:
    static constexpr std::uint32_t NONE = ~std::uint32_t{0};

    ContextDictionary(unsigned length, unsigned bits) : bits_(bits) {
        const unsigned pair_bits = (length + 1) * bits;
        flat_ = pair_bits <= FLAT_BITS;
        if (flat_) {
            count_.assign(std::size_t{1} << pair_bits, 0);
            best_.assign(std::size_t{1} << (length * bits), Best{});
        } else {
            slots_.assign(64, 0);
        }
    }

    // The context's entry, or NONE while it has not been admitted.
    std::uint32_t find(ContextCode code) const {
        if (flat_) return best_[static_cast<std::size_t>(code)].count != 0 ? static_cast<std::uint32_t>(code) : NONE;
        for (std::size_t at = hash(code) & (slots_.size() - 1);; at = (at + 1) & (slots_.size() - 1)) {
            const std::uint32_t e = slots_[at];
            if (e == 0) return NONE;
            if (entries_[e - 1].code == code) return e - 1;
        }
    }

    // Admits a context with y seen after it once.
    std::uint32_t add(ContextCode code, std::uint8_t y) {
        ++contexts_;
        std::uint32_t e;
        if (flat_) {
            e = static_cast<std::uint32_t>(code);
        } else {
            if (2 * (entries_.size() + 1) > slots_.size()) grow();
            e = static_cast<std::uint32_t>(entries_.size());
            entries_.push_back(Entry{code, NONE, Best{}});
            place(e);
        }
        increment(e, y, true);
        return e;
    }

    // One more y after the context of entry e; a symbol not yet seen after it
    // is admitted only if `admit`.
    void increment(std::uint32_t e, std::uint8_t y, bool admit) {
        std::uint32_t c;
        if (flat_) {
            std::uint32_t& slot = count_[(std::size_t{e} << bits_) | y];
            if (slot == 0 && !admit) return;
            c = ++slot;
        } else {
            std::uint32_t node = entries_[e].head;
            while (node != NONE && nodes_[node].y != y) node = nodes_[node].next;
            if (node == NONE) {
                if (!admit) return;
                // new successors go first: the list is searched from the latest
                node = static_cast<std::uint32_t>(nodes_.size());
                nodes_.push_back(Node{entries_[e].head, 0, y});
                entries_[e].head = node;
            }
            c = ++nodes_[node].count;
        }
        if (c == 1) ++pairs_;
        Best& b = flat_ ? best_[e] : entries_[e].best;
        if (c > b.count || (c == b.count && y > b.y)) b = Best{c, y};
    }

    // The symbol seen most often after the context of entry e.
    std::uint8_t best(std::uint32_t e) const { return flat_ ? best_[e].y : entries_[e].best.y; }
    std::uint32_t best_count(std::uint32_t e) const { return flat_ ? best_[e].count : entries_[e].best.count; }

    std::size_t contexts() const { return contexts_; }
    std::size_t pairs() const { return pairs_; }

private:
    static constexpr unsigned FLAT_BITS = 18;

    struct Best {
        std::uint32_t count = 0;
        std::uint8_t y = 0;
    };
    struct Entry {
        ContextCode code;
        std::uint32_t head;
        Best best;
    };
    struct Node {
        std::uint32_t next, count;
        std::uint8_t y;
    };

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

    void place(std::uint32_t e) {
        std::size_t at = hash(entries_[e].code) & (slots_.size() - 1);
        while (slots_[at] != 0) at = (at + 1) & (slots_.size() - 1);
        slots_[at] = e + 1;
    }

    void grow() {
        slots_.assign(slots_.size() * 2, 0);
        for (std::uint32_t e = 0; e < entries_.size(); ++e) place(e);
    }

    unsigned bits_;
    bool flat_;
    std::size_t contexts_ = 0, pairs_ = 0;
    // flat: count_[code << bits | y] and best_[code]
    std::vector<std::uint32_t> count_;
    std::vector<Best> best_;
    // table: slots_ hold entry + 1 (0 empty); each entry lists its symbols in nodes_
    std::vector<std::uint32_t> slots_;
    std::vector<Entry> entries_;
    std::vector<Node> nodes_;
};

// The bits a symbol below k takes in a context code.
inline unsigned symbol_bits(unsigned k) {
    unsigned b = 1;
    while (b < 8 && (1u << b) < k) ++b;
    return b;
}

}  // namespace veltrane::sp800_90b
