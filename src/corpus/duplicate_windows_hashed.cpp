// Duplicate windows by hashing every window: several times faster than
// sorting the suffixes (which libdivsufsort does on one core), in bounded
// memory. The hash values are split into parts by their top bits; for each
// part one rolling-hash scan (on the workers, each over a stretch of the
// corpus) lists the windows whose hash falls in it, in corpus order, as 32
// more bits of the hash and the position; a stable radix sort on those bits
// brings equal hashes together with positions still ascending. Windows with
// equal bits are compared byte for byte, so a collision only costs time.
#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "corpus/duplicate_windows.hpp"
#include "corpus/window_hash.hpp"
#include "pool/cancel.hpp"
#include "pool/pool.hpp"
#include "util/big_array.hpp"

namespace veltrane::corpus {

namespace {

struct Listed {
    std::uint32_t key;       // 32 bits of the hash below the part's
    std::uint32_t position;  // the top bit marks a window already matched
};

constexpr std::uint32_t MATCHED = std::uint32_t{1} << 31;

// Stable sort by key, 16 bits at a time: from the pieces' lists into `out`,
// through `low`; a short list is sorted in place.
void radix_sort(std::vector<std::vector<Listed>>& lists, Listed* out, Listed* low, std::size_t size) {
    if (size < (1u << 16)) {
        std::size_t at = 0;
        for (auto& list : lists) {
            std::copy(list.begin(), list.end(), out + at);
            at += list.size();
            list.clear();
        }
        std::stable_sort(out, out + size, [](const Listed& a, const Listed& b) { return a.key < b.key; });
        return;
    }
    std::vector<std::size_t> counts(1 << 16);
    for (const auto& list : lists) {
        for (const Listed& item : list) ++counts[item.key & 0xFFFF];
    }
    std::size_t at = 0;
    for (std::size_t& c : counts) at += std::exchange(c, at);
    for (auto& list : lists) {
        for (const Listed& item : list) low[counts[item.key & 0xFFFF]++] = item;
        list.clear();
    }
    pool::checkpoint();
    std::fill(counts.begin(), counts.end(), 0);
    for (std::size_t i = 0; i < size; ++i) ++counts[low[i].key >> 16];
    at = 0;
    for (std::size_t& c : counts) at += std::exchange(c, at);
    for (std::size_t i = 0; i < size; ++i) out[counts[low[i].key >> 16]++] = low[i];
}

// Within each run of equal keys in [begin, end), the windows with the same
// bytes: all but the first (Keep::first) or all of them (Keep::none) are
// duplicates. Runs that begin before `begin` are another worker's.
void mark_runs(const CorpusText& text, std::uint64_t length, Keep keep, Listed* items, std::size_t size,
               std::size_t begin, std::size_t end, Bitset& duplicates) {
    const std::uint8_t* t = text.bytes;
    while (begin > 0 && begin < size && items[begin].key == items[begin - 1].key) ++begin;
    for (std::size_t first = begin, next = begin; first < end; first = next) {
        if ((first & 0xFFFF) == 0) pool::checkpoint();
        for (next = first + 1; next < size && items[next].key == items[first].key;) ++next;
        for (std::size_t lead = first; lead + 1 < next; ++lead) {
            if (items[lead].position & MATCHED) continue;
            const std::uint32_t earliest = items[lead].position;
            bool repeated = false;
            for (std::size_t k = lead + 1; k < next; ++k) {
                // The windows of a run lie anywhere in the corpus: fetched ahead.
                if (k + 8 < next) __builtin_prefetch(t + (items[k + 8].position & ~MATCHED));
                if ((items[k].position & MATCHED) || std::memcmp(t + earliest, t + items[k].position, length) != 0) {
                    continue;
                }
                duplicates.set_shared(items[k].position);
                items[k].position |= MATCHED;
                repeated = true;
            }
            if (repeated && keep == Keep::none) duplicates.set_shared(earliest);
        }
    }
}

}  // namespace

Bitset duplicate_windows_hashed(const CorpusText& text, std::uint64_t length, Keep keep) {
    const std::uint64_t n = text.size();
    if (n >= MATCHED) return duplicate_windows_sorted(text, length, keep);
    Bitset duplicates(n);
    if (length == 0 || n < length) return duplicates;
    const WindowHash hash(length);
    // Parts of at most 64 Mi windows (the lists, the sorted copy and the
    // sort's spare take 8 bytes a window each, 3 bytes a corpus byte at most):
    // a scan of the corpus each.
    const std::uint64_t parts = std::bit_ceil(std::max<std::uint64_t>(1, (n + (1u << 26) - 1) >> 26));
    const unsigned below = 61 - static_cast<unsigned>(std::countr_zero(parts));
    const std::size_t pieces = n < (1u << 20) ? 1 : pool::piece_count(n);
    std::vector<std::vector<Listed>> lists(pieces);
    util::BigArray<Listed> items, low;
    for (std::uint64_t part = 0; part < parts; ++part) {
        pool::run_tasks(pieces, [&](std::size_t piece) {
            auto [begin, end] = pool::piece_range(n, pieces, piece);
            std::vector<Listed>& mine = lists[piece];
            mine.reserve((end - begin) / parts + (end - begin) / parts / 16 + 1024);
            for_each_window_hash(text, hash, length, begin, end, [&](std::uint64_t p, std::uint64_t h) {
                if ((h >> below) == part) {
                    mine.push_back({static_cast<std::uint32_t>(h >> (below > 32 ? below - 32 : 0)),
                                    static_cast<std::uint32_t>(p)});
                }
            });
        });
        std::size_t size = 0;
        for (const auto& list : lists) size += list.size();
        if (items.size() < size) {  // the parts are alike in size: the first one's arrays nearly always serve
            items = util::BigArray<Listed>(size + size / 16);
            low = util::BigArray<Listed>(size + size / 16);
        }
        radix_sort(lists, items.data(), low.data(), size);
        const std::size_t runs = size < (1u << 16) ? 1 : pool::piece_count(size);
        pool::run_tasks(runs, [&](std::size_t piece) {
            auto [begin, end] = pool::piece_range(size, runs, piece);
            mark_runs(text, length, keep, items.data(), size, begin, end, duplicates);
        });
    }
    return duplicates;
}

}  // namespace veltrane::corpus
