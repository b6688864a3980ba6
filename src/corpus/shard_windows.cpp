#include "corpus/shard_windows.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

#include "corpus/duplicate_windows.hpp"
#include "corpus/window_hash.hpp"
#include "pool/cancel.hpp"

namespace veltrane::corpus::shard {

Bitset candidate_windows(const CorpusText& text, std::uint64_t position, std::uint64_t min_length,
                         std::span<const std::uint64_t> representatives, std::span<const std::uint64_t> shared) {
    if (!anchored(min_length)) return window_starts(text, min_length);
    Bitset by_first(text.size()), by_second(text.size());
    if (representatives.size() % 2 != 0) throw std::invalid_argument("representatives come in pairs");
    for (std::size_t i = 0; i < representatives.size(); i += 2) {
        const std::uint64_t first = representatives[i], windows = representatives[i + 1];
        if (first < position || windows == 0 || first - position > text.size() ||
            windows - 1 + min_length > text.size() - (first - position)) {
            throw std::invalid_argument("a representative run outside the shard");
        }
        by_first.set_range(first - position, first - position + windows);
    }
    if (representatives.empty() || shared.empty()) return Bitset(text.size());
    const std::uint64_t f = min_length - min_length / 2;
    with_documents(text, min_length, half_runs(text, min_length),
                   [&](const HalfRun& run, std::uint64_t window_end, std::uint64_t start) {
                       if (std::binary_search(shared.begin(), shared.end(), run.second_key)) {
                           const Span span = by_second_half(run, f, start, window_end);
                           if (!span.empty()) by_second.set_range(span.first, span.stop);
                       }
                   });
    by_first.intersect(by_second);
    return by_first;
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
    // Sized once: growing by doubling would hold old and new arrays together, up to 32 bytes per candidate,
    // and this array is most of a step's memory on a worker whose limit is set by it.
    std::uint64_t count = 0;
    for (const std::uint64_t word : candidates.words()) count += static_cast<std::uint64_t>(std::popcount(word));
    all.reserve(count);
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
    // Each distinct window's record overwrites the front of `all` (never ahead of what is still to be read), so
    // the records cost no memory beyond the candidates until they are dealt to exactly sized partitions.
    std::size_t kept = 0;
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
        all[kept++] = Hashed{all[i].hash | (j - i >= 2 ? WINDOW_MANY : 0), position + all[i].position};
        i = j;
    }
    // The flag leaves the partition unchanged: the hash has 61 bits, and the shift drops the flag.
    const auto partition = [&](const Hashed& record) { return partition_of(record.hash << 3, partitions); };
    std::vector<std::size_t> words(partitions, 0);
    for (std::size_t r = 0; r < kept; ++r) words[partition(all[r])] += 2;
    for (std::size_t p = 0; p < partitions; ++p) out.parts[p].reserve(words[p]);
    for (std::size_t r = 0; r < kept; ++r) {
        auto& part = out.parts[partition(all[r])];
        part.push_back(all[r].hash);
        part.push_back(all[r].position);
    }
    return out;
}

}  // namespace veltrane::corpus::shard
