// A plain model of libbz2's encoder, as far as its output's length goes, for
// the tests to hold the fast code (src/bz2_length/) against, beside the
// library itself: every stage written out the direct way, on small inputs.
//
// What the encoder does (found by reading its streams back):
// - runs of 4..255 equal bytes become the byte 4 times and a count byte;
//   a block closes once it holds 100000 * level - 19 bytes, after the run that
//   reached it, unless no input follows or only one byte does (that byte joins);
// - each block's rotations are sorted; the byte before each, renumbered over
//   the block's bytes, is move-to-front coded; runs of zeros become bijective
//   base-2 numerals (RUNA = 1, RUNB = 2); position j is symbol j + 1;
// - 2..6 coding tables by symbol count, started from ranges of the alphabet,
//   refined 4 times, selectors move-to-front and unary coded, tables delta coded.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace bz2_reference {

using Bytes = std::vector<std::uint8_t>;

inline Bytes decimal_text(const std::uint8_t* values, std::size_t n) {
    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0) text += ' ';
        text += std::to_string(values[i]);
    }
    return Bytes(text.begin(), text.end());
}

// The blocks the encoder compresses, after its run-length stage, closing at
// `capacity` bytes (100000 * level - 19 at a level).
inline std::vector<Bytes> blocks(const std::uint8_t* text, std::size_t n, std::size_t capacity) {
    std::vector<Bytes> runs;  // each run's output
    for (std::size_t i = 0; i < n;) {
        std::size_t j = i;
        while (j < n && text[j] == text[i] && j - i < 255) ++j;
        const std::size_t length = j - i;
        Bytes out(std::min<std::size_t>(length, 4), text[i]);
        if (length >= 4) out.push_back(static_cast<std::uint8_t>(length - 4));
        runs.push_back(out);
        i = j;
    }
    std::vector<Bytes> result;
    Bytes current;
    for (std::size_t r = 0; r < runs.size(); ++r) {
        current.insert(current.end(), runs[r].begin(), runs[r].end());
        const bool more = r + 1 < runs.size();
        const bool lone_last_byte = r + 2 == runs.size() && runs[r + 1].size() == 1;
        if (current.size() >= capacity && more && !lone_last_byte) {
            result.push_back(current);
            current.clear();
        }
    }
    if (!current.empty()) result.push_back(current);
    return result;
}

// The byte before each rotation, rotations in sorted order.
inline Bytes sorted_rotation_tails(const Bytes& block) {
    const std::size_t n = block.size();
    std::vector<std::size_t> starts(n);
    for (std::size_t i = 0; i < n; ++i) starts[i] = i;
    std::stable_sort(starts.begin(), starts.end(), [&](std::size_t a, std::size_t b) {
        for (std::size_t k = 0; k < n; ++k) {
            const std::uint8_t x = block[(a + k) % n], y = block[(b + k) % n];
            if (x != y) return x < y;
        }
        return false;
    });
    Bytes tails;
    for (std::size_t s : starts) tails.push_back(block[(s + n - 1) % n]);
    return tails;
}

// The symbols: move-to-front over the bytes in use, zero runs as numerals.
inline std::vector<int> symbols(const Bytes& tails, const std::vector<int>& in_use) {
    std::vector<int> list = in_use, out;
    auto flush = [&](std::size_t run) {
        while (run > 0) {
            if (run % 2 == 1) {
                out.push_back(0);  // RUNA, worth 1 at its place
                run = (run - 1) / 2;
            } else {
                out.push_back(1);  // RUNB, worth 2
                run = (run - 2) / 2;
            }
        }
    };
    std::size_t run = 0;
    for (std::uint8_t byte : tails) {
        const int at = static_cast<int>(std::find(list.begin(), list.end(), byte) - list.begin());
        if (at == 0) {
            ++run;
            continue;
        }
        flush(run);
        run = 0;
        out.push_back(at + 1);
        list.erase(list.begin() + at);
        list.insert(list.begin(), byte);
    }
    flush(run);
    out.push_back(static_cast<int>(in_use.size()) + 1);
    return out;
}

// Code lengths: a Huffman tree from a 1-based binary heap of weights (count
// << 8 | depth), halving counts until no code is longer than `longest`.
inline std::vector<int> code_lengths(const std::vector<long>& counts, int longest) {
    const int n = static_cast<int>(counts.size());
    std::vector<long> weight(2 * n + 1);
    for (int i = 0; i < n; ++i) weight[i + 1] = std::max(counts[i], 1L) * 256;
    for (;;) {
        std::vector<int> parent(2 * n + 1, -1), heap(1, 0);
        weight[0] = 0;
        auto less = [&](int a, int b) { return weight[a] < weight[b]; };
        auto up = [&](std::size_t k) {
            while (k > 1 && less(heap[k], heap[k / 2])) std::swap(heap[k], heap[k / 2]), k /= 2;
        };
        auto down = [&](std::size_t k) {
            for (;;) {
                std::size_t c = 2 * k;
                if (c >= heap.size()) return;
                if (c + 1 < heap.size() && less(heap[c + 1], heap[c])) ++c;
                if (less(heap[k], heap[c])) return;
                std::swap(heap[k], heap[c]);
                k = c;
            }
        };
        auto pop = [&] {
            const int top = heap[1];
            heap[1] = heap.back();
            heap.pop_back();
            down(1);
            return top;
        };
        for (int i = 1; i <= n; ++i) heap.push_back(i), up(heap.size() - 1);
        int nodes = n;
        while (heap.size() > 2) {
            const int a = pop(), b = pop();
            parent[a] = parent[b] = ++nodes;
            weight[nodes] = (weight[a] / 256 + weight[b] / 256) * 256 + 1 + std::max(weight[a] % 256, weight[b] % 256);
            heap.push_back(nodes);
            up(heap.size() - 1);
        }
        std::vector<int> lengths(n);
        bool fits = true;
        for (int i = 1; i <= n; ++i) {
            for (int k = i; parent[k] != -1; k = parent[k]) ++lengths[i - 1];
            fits = fits && lengths[i - 1] <= longest;
        }
        if (fits) return lengths;
        for (int i = 1; i <= n; ++i) weight[i] = (1 + weight[i] / 256 / 2) * 256;
    }
}

// The bits of the tables, selectors and coded symbols.
inline long coding_bits(const std::vector<int>& syms, int alphabet) {
    const std::size_t count = syms.size();
    const int tables = count < 200 ? 2 : count < 600 ? 3 : count < 1200 ? 4 : count < 2400 ? 5 : 6;
    std::vector<long> freq(alphabet);
    for (int s : syms) ++freq[s];
    // Ranges of the alphabet, the k-th for table tables - 1 - k: each takes
    // symbols until it holds an equal share of the symbols not yet taken; the
    // second, fourth, ... but not the last give their last symbol back.
    std::vector<std::vector<int>> len(tables, std::vector<int>(alphabet, 15));
    long remaining = static_cast<long>(count);
    for (int k = 0, next = 0; k < tables; ++k) {
        const long share = remaining / (tables - k);
        int end = next;
        long sum = 0;
        while (sum < share && end < alphabet) sum += freq[end++];
        if (k % 2 == 1 && k != tables - 1 && end - next > 1) sum -= freq[--end];
        for (int sym = next; sym < end; ++sym) len[tables - 1 - k][sym] = 0;
        remaining -= sum;
        next = end;
    }
    std::vector<int> chosen;
    std::vector<std::vector<long>> coded;
    for (int round = 0; round < 4; ++round) {
        chosen.clear();
        coded.assign(tables, std::vector<long>(alphabet, 0));
        for (std::size_t g = 0; g < count; g += 50) {
            const std::size_t end = std::min(count, g + 50);
            int best = 0;
            long best_cost = -1;
            for (int t = 0; t < tables; ++t) {
                long cost = 0;
                for (std::size_t i = g; i < end; ++i) cost += len[t][syms[i]];
                if (best_cost < 0 || cost < best_cost) best = t, best_cost = cost;
            }
            chosen.push_back(best);
            for (std::size_t i = g; i < end; ++i) ++coded[best][syms[i]];
        }
        for (int t = 0; t < tables; ++t) len[t] = code_lengths(coded[t], 17);
    }
    long bits = 3 + 15;
    std::vector<int> order;
    for (int t = 0; t < tables; ++t) order.push_back(t);
    for (int t : chosen) {
        const auto at = std::find(order.begin(), order.end(), t);
        bits += (at - order.begin()) + 1;
        order.erase(at);
        order.insert(order.begin(), t);
    }
    for (int t = 0; t < tables; ++t) {
        bits += 5;
        for (int s = 0; s < alphabet; ++s) bits += 2 * std::abs(len[t][s] - (s ? len[t][s - 1] : len[t][0])) + 1;
        for (int s = 0; s < alphabet; ++s) bits += coded[t][s] * len[t][s];
    }
    return bits;
}

inline long block_bits(const Bytes& block) {
    std::vector<int> in_use;
    for (int b = 0; b < 256; ++b)
        if (std::find(block.begin(), block.end(), b) != block.end()) in_use.push_back(b);
    int ranges = 0;
    for (int r = 0; r < 16; ++r)
        ranges += std::any_of(in_use.begin(), in_use.end(), [&](int b) { return b / 16 == r; });
    const std::vector<int> syms = symbols(sorted_rotation_tails(block), in_use);
    return 48 + 32 + 1 + 24 + 16 + 16 * ranges + coding_bits(syms, static_cast<int>(in_use.size()) + 2);
}

inline long compressed_length(const std::uint8_t* text, std::size_t n, int level) {
    long bits = 32 + 48 + 32;
    for (const Bytes& block : blocks(text, n, 100000 * std::size_t(level) - 19)) bits += block_bits(block);
    return (bits + 7) / 8;
}

}  // namespace bz2_reference
