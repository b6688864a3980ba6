// A brute-force model of the repeats search, for the tests only: it lists every
// distinct fragment of the sequence, counts its greedy non-overlapping
// occurrences by scanning, applies each filter as the definition words it,
// sorts by the rank key and walks the list. Cubic or worse: small inputs only.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "strings/repeats/entropy.hpp"
#include "strings/repeats/options.hpp"

namespace veltrane::reference {

namespace repeats = veltrane::strings::repeats;

// One distinct fragment and everything the definition asks of it.
struct ModelFragment {
    std::uint64_t length = 0;
    std::uint64_t first = 0;        // first occurrence
    std::uint64_t occurrences = 0;  // all of them, overlapping ones included
    std::vector<std::uint64_t> greedy;  // the greedy non-overlapping starts
    bool periodic = false;
    double entropy = 0.0;
    std::uint64_t count() const { return greedy.size(); }
};

struct ModelRepeat {
    std::uint64_t length, count, first, score;
    std::vector<std::uint64_t> starts;  // every greedy start
};

template <class T>
class RepeatsModel {
public:
    explicit RepeatsModel(std::span<const T> seq) : seq_(seq.begin(), seq.end()) {
        const std::size_t n = seq_.size();
        // Keyed by 64-bit copies: GCC 12 misjudges memcmp on byte vectors.
        std::map<std::vector<std::uint64_t>, std::size_t> index;
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t j = i + 1; j <= n; ++j) {
                std::vector<std::uint64_t> key(seq_.begin() + i, seq_.begin() + j);
                if (index.count(key)) continue;
                index[key] = fragments_.size();
                const std::vector<T> w(seq_.begin() + i, seq_.begin() + j);
                fragments_.push_back(describe(w, i));
                contents_.push_back(w);
            }
        }
        for (T v : seq_) values_.insert(v);
        maximal_.assign(fragments_.size(), -1);
    }

    const std::vector<ModelFragment>& fragments() const { return fragments_; }
    const std::vector<T>& content(std::size_t i) const { return contents_[i]; }

    // g of an arbitrary fragment (0 when it does not occur).
    std::uint64_t greedy_count(const std::vector<T>& w) const { return greedy_starts(w).size(); }

    // Maximal under g: no one-element extension within max_length keeps g.
    bool maximal(std::size_t i, const repeats::Options& o) const {
        const std::vector<T>& w = contents_[i];
        if (o.max_length && w.size() + 1 > *o.max_length) return true;
        if (maximal_[i] < 0) {  // remembered: the extensions do not depend on the options
            const std::uint64_t g = fragments_[i].count();
            bool none_keeps = true;
            for (T x : values_) {
                std::vector<T> right = w, left{x};
                right.push_back(x);
                left.insert(left.end(), w.begin(), w.end());
                none_keeps = none_keeps && greedy_count(right) != g && greedy_count(left) != g;
            }
            maximal_[i] = none_keeps ? 1 : 0;
        }
        return maximal_[i] == 1;
    }

    bool length_ok(std::size_t i, const repeats::Options& o) const {
        const std::uint64_t L = fragments_[i].length;
        return L >= o.min_length && (!o.max_length || L <= *o.max_length);
    }

    // A fragment that passes every filter, ranked or not.
    bool qualifies(std::size_t i, const repeats::Options& o) const {
        const ModelFragment& f = fragments_[i];
        if (!length_ok(i, o) || f.count() < o.min_count) return false;
        if (o.exclude_periodic && f.periodic) return false;
        if (o.min_entropy && f.entropy < *o.min_entropy) return false;
        return !o.maximal || maximal(i, o);
    }

    std::uint64_t score(const ModelFragment& f, const repeats::Options& o) const {
        return o.rank == repeats::Rank::savings ? (f.count() - 1) * f.length : f.count() * f.length;
    }

    // Every fragment with length within bounds and g >= min_count, in rank order.
    std::vector<std::size_t> ranked_candidates(const repeats::Options& o) const {
        std::vector<std::size_t> out;
        for (std::size_t i = 0; i < fragments_.size(); ++i) {
            if (length_ok(i, o) && fragments_[i].count() >= o.min_count) out.push_back(i);
        }
        std::sort(out.begin(), out.end(), [&](std::size_t x, std::size_t y) {
            const ModelFragment &a = fragments_[x], &b = fragments_[y];
            if (score(a, o) != score(b, o)) return score(a, o) > score(b, o);
            if (a.length != b.length) return a.length > b.length;
            if (a.count() != b.count()) return a.count() > b.count();
            return a.first < b.first;
        });
        return out;
    }

    // The walk: qualifying fragments in rank order, at most top, non_overlap
    // leaving out whole a fragment that shares a position with a kept one.
    // Returns the indices of the kept fragments.
    std::vector<std::size_t> walk(const repeats::Options& o) const {
        std::vector<std::size_t> kept;
        std::vector<bool> taken(seq_.size(), false);
        for (std::size_t i : ranked_candidates(o)) {
            if (o.top && kept.size() >= *o.top) break;
            if (!qualifies(i, o)) continue;
            const ModelFragment& f = fragments_[i];
            if (o.non_overlap) {
                bool free = true;
                for (std::uint64_t s : f.greedy) {
                    for (std::uint64_t p = s; p < s + f.length; ++p) free = free && !taken[p];
                }
                if (!free) continue;
                for (std::uint64_t s : f.greedy) {
                    for (std::uint64_t p = s; p < s + f.length; ++p) taken[p] = true;
                }
            }
            kept.push_back(i);
        }
        return kept;
    }

    std::vector<ModelRepeat> repeats(const repeats::Options& o) const {
        std::vector<ModelRepeat> out;
        for (std::size_t i : walk(o)) {
            const ModelFragment& f = fragments_[i];
            out.push_back({f.length, f.count(), f.first, score(f, o), f.greedy});
        }
        return out;
    }

private:
    std::vector<std::uint64_t> greedy_starts(const std::vector<T>& w) const {
        std::vector<std::uint64_t> starts;
        const std::size_t n = seq_.size(), L = w.size();
        std::size_t next_free = 0;
        for (std::size_t p = 0; p + L <= n; ++p) {
            if (p >= next_free && std::equal(w.begin(), w.end(), seq_.begin() + p)) {
                starts.push_back(p);
                next_free = p + L;
            }
        }
        return starts;
    }

    ModelFragment describe(const std::vector<T>& w, std::size_t first) const {
        ModelFragment f;
        f.length = w.size();
        f.first = first;
        for (std::size_t p = 0; p + w.size() <= seq_.size(); ++p) {
            if (std::equal(w.begin(), w.end(), seq_.begin() + p)) ++f.occurrences;
        }
        f.greedy = greedy_starts(w);
        // The smallest p with w[i] == w[i + p] for all i; periodic when p <= |w| / 2.
        std::size_t period = 1;
        for (; period < w.size(); ++period) {
            bool ok = true;
            for (std::size_t i = 0; i + period < w.size(); ++i) ok = ok && w[i] == w[i + period];
            if (ok) break;
        }
        f.periodic = 2 * period <= w.size();
        std::map<T, std::uint64_t> counts;
        for (T v : w) ++counts[v];
        std::vector<std::uint64_t> ordered;
        for (auto& [v, c] : counts) ordered.push_back(c);
        f.entropy = repeats::fragment_entropy(ordered, w.size());
        return f;
    }

    std::vector<T> seq_;
    std::vector<ModelFragment> fragments_;
    std::vector<std::vector<T>> contents_;
    std::set<T> values_;
    mutable std::vector<signed char> maximal_;
};

}  // namespace veltrane::reference
