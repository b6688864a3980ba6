#include "corpus/shard_claims.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "corpus/shard_windows.hpp"
#include "pool/cancel.hpp"

namespace veltrane::corpus::shard {

namespace {

struct Record {
    std::uint64_t hash, position;
    bool many;
    bool operator<(const Record& o) const { return hash != o.hash ? hash < o.hash : position < o.position; }
};

struct Claim {
    std::uint64_t owner, held, claiming;
    bool operator<(const Claim& o) const {
        return owner != o.owner ? owner < o.owner : held != o.held ? held < o.held : claiming < o.claiming;
    }
};

constexpr std::size_t CLAIM_WORDS = 3;

std::uint64_t words_for(std::uint64_t bytes) { return (bytes + 7) / 8; }

}  // namespace

Outbox window_claims(std::span<const FromShard> inputs, Keep keep, std::span<const std::uint64_t> positions) {
    std::vector<Record> all;
    for (const FromShard& input : inputs) {
        if (input.records.size() % 2 != 0) throw std::invalid_argument("window records come in pairs");
        for (std::size_t i = 0; i < input.records.size(); i += 2) {
            const std::uint64_t word = input.records[i];
            all.push_back({word & ~WINDOW_MANY, input.records[i + 1], (word & WINDOW_MANY) != 0});
        }
    }
    std::sort(all.begin(), all.end());
    std::vector<Claim> claims;
    auto claim = [&](std::uint64_t held, std::uint64_t claiming) {
        claims.push_back({owner_of(positions, held), held, claiming});
    };
    for (std::size_t i = 0; i < all.size();) {
        if ((i & 0xFFFF) == 0) pool::checkpoint();
        std::size_t j = i + 1;
        std::uint64_t windows = all[i].many ? 2 : 1;
        for (; j < all.size() && all[j].hash == all[i].hash; ++j) windows += all[j].many ? 2 : 1;
        if (keep == Keep::first) {
            for (std::size_t k = i + 1; k < j; ++k) claim(all[i].position, all[k].position);
        } else if (windows >= 2) {
            for (std::size_t k = i; k < j; ++k) {
                if (!all[k].many) claim(all[k == i ? i + 1 : i].position, all[k].position);
            }
        }
        i = j;
    }
    std::sort(claims.begin(), claims.end());
    Outbox out;
    for (const Claim& c : claims) {
        if (out.empty() || out.back().first != c.owner) out.emplace_back(c.owner, std::vector<std::uint64_t>{});
        out.back().second.insert(out.back().second.end(), {c.held, c.claiming, 1});
    }
    return out;
}

RunOutbox serve_claims(const CorpusText& text, std::uint64_t position, std::uint64_t min_length,
                       std::span<const std::span<const std::uint64_t>> claims,
                       std::span<const std::uint64_t> positions) {
    struct Asked {
        std::uint64_t claimant, shift, held, windows;  // shift: claiming - held, modulo 2^64
        bool operator<(const Asked& o) const {
            return claimant != o.claimant ? claimant < o.claimant : shift != o.shift ? shift < o.shift : held < o.held;
        }
    };
    std::vector<Asked> asked;
    for (std::span<const std::uint64_t> part : claims) {
        if (part.size() % CLAIM_WORDS != 0) throw std::invalid_argument("claims come in triples");
        for (std::size_t i = 0; i < part.size(); i += CLAIM_WORDS) {
            const std::uint64_t held = part[i], claiming = part[i + 1], windows = part[i + 2];
            if (held < position || windows == 0 || held - position > text.size() ||
                windows - 1 + min_length > text.size() - (held - position)) {
                throw std::invalid_argument("a claim on a window outside the shard");
            }
            asked.push_back({owner_of(positions, claiming), claiming - held, held, windows});
        }
    }
    std::sort(asked.begin(), asked.end());
    RunOutbox out;
    for (std::size_t i = 0; i < asked.size();) {
        if ((i & 0xFFF) == 0) pool::checkpoint();
        std::uint64_t end = asked[i].held + asked[i].windows;  // past the run's last window
        std::size_t j = i + 1;
        for (; j < asked.size() && asked[j].claimant == asked[i].claimant && asked[j].shift == asked[i].shift &&
               asked[j].held <= end;
             ++j) {
            end = std::max(end, asked[j].held + asked[j].windows);
        }
        if (out.empty() || out.back().first != asked[i].claimant) {
            out.emplace_back(asked[i].claimant, std::vector<std::uint64_t>{});
        }
        std::vector<std::uint64_t>& words = out.back().second;
        const std::uint64_t held = asked[i].held, windows = end - held;
        const std::uint64_t bytes = windows - 1 + min_length;  // each window was checked to lie in the shard
        words.push_back(held + asked[i].shift);
        words.push_back(held);
        words.push_back(windows);
        const std::size_t at = words.size();
        words.resize(at + words_for(bytes), 0);
        std::memcpy(words.data() + at, text.bytes + (held - position), bytes);
        i = j;
    }
    return out;
}

bool verify_runs(const CorpusText& text, std::uint64_t position, std::uint64_t min_length,
                 std::span<const std::span<const std::uint64_t>> runs, Bitset& duplicates) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> agreed;  // windows [first, first + m) of the shard
    for (std::span<const std::uint64_t> words : runs) {
        for (std::size_t i = 0; i < words.size();) {
            if (words.size() - i < 3) throw std::invalid_argument("a run cut short");
            const std::uint64_t claiming = words[i], windows = words[i + 2];
            if (claiming < position || windows == 0 || claiming - position + windows - 1 + min_length > text.size()) {
                throw std::invalid_argument("a run outside the shard");
            }
            const std::uint64_t bytes = windows - 1 + min_length, at = claiming - position;
            if (words.size() - i - 3 < words_for(bytes)) throw std::invalid_argument("a run cut short");
            if (std::memcmp(words.data() + i + 3, text.bytes + at, bytes) != 0) return false;
            agreed.emplace_back(at, windows);
            i += 3 + words_for(bytes);
        }
    }
    for (auto [first, windows] : agreed) duplicates.set_range(first, first + windows);
    return true;
}

}  // namespace veltrane::corpus::shard
