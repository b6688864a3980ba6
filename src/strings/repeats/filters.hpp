// The filters of the repeats search (maximal, periodic, entropy), decided for a
// node of the LCP-interval tree and a length from the suffix array, the node's
// rows and a few greedy counts, never from a list of all fragments.
//
// Maximality under the greedy count g: within a node every occurrence of the
// fragment at length L < depth continues with the same element, so the one
// right extension that occurs is the node's own fragment at L + 1; at the
// node's depth the right extensions are its children (its rows grouped by the
// element after the fragment). The left extensions by an element a start one
// before the node's starts that follow an a; g(aw) is the greedy count of
// those starts at L + 1. As g never rises under extension, w is maximal when
// no such set reaches g(w) occurrences, and a count can stop there. A
// separator (frag/separator.hpp) extends nothing on either side.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "pool/cancel.hpp"
#include "strings/frag/occurrences.hpp"
#include "strings/frag/ranked_walk.hpp"
#include "strings/frag/repeat_nodes.hpp"
#include "strings/frag/separator.hpp"
#include "strings/frag/wavelet_matrix.hpp"
#include "strings/repeats/entropy.hpp"
#include "strings/repeats/options.hpp"
#include "strings/repeats/result.hpp"

namespace veltrane::strings::repeats {

enum class Reason { pass, periodic, low_entropy, not_maximal };

// Adds `lengths` fragments to the count of `reason`.
inline void note(LeftOut& left_out, Reason reason, std::uint64_t lengths) {
    switch (reason) {
        case Reason::periodic: left_out.periodic += lengths; break;
        case Reason::low_entropy: left_out.low_entropy += lengths; break;
        case Reason::not_maximal: left_out.not_maximal += lengths; break;
        case Reason::pass: break;
    }
}

template <class I, class S>
class FragmentFilters {
public:
    static constexpr I UNKNOWN = std::numeric_limits<I>::max();

    FragmentFilters(const S* symbols, I n, I alphabet, const I* sa, const std::vector<frag::RepeatNode<I>>& nodes,
                    const std::vector<I>& depths, const frag::OccurrenceChooser<I>& chooser, const Options& options,
                    LeftOut& left_out, std::uint64_t separator = frag::NO_SEPARATOR)
        : sym_(symbols), n_(n), alphabet_(alphabet), sa_(sa), nodes_(nodes), depths_(depths), chooser_(chooser),
          left_out_(left_out), separator_(separator), maximal_(options.maximal), periodic_(options.exclude_periodic),
          entropy_(options.min_entropy.has_value()), min_entropy_(options.min_entropy.value_or(0.0)),
          max_length_(options.max_length.value_or(UINT64_MAX)) {}

    bool active() const { return maximal_ || periodic_ || entropy_; }

    // The walk's question for an exact item: lengths [a, b] of node v, all of
    // greedy count k.
    frag::FilterDecision<I> operator()(I v, I a, I b, std::uint64_t k) {
        if (maximal_) {
            // Every length below b extends to the next one with the same count.
            left_out_.not_maximal += b - a;
            const Reason reason = judge(v, b, k);
            note(left_out_, reason, 1);
            return {reason == Reason::pass, static_cast<I>(a - 1), UNKNOWN};
        }
        return judge_lengths(v, a, b);
    }

    // Whether w of length L in node v (count k) is left out, and why.
    Reason judge(I v, I length, std::uint64_t k) {
        const frag::RepeatNode<I>& node = nodes_[v];
        const bool extends = length < max_length_;  // a one-element extension is within max_length
        if (extends && length < depths_[v] && count(node, length + 1, k) == k) return Reason::not_maximal;
        // The other maximality checks cost about the node's number of starts,
        // the content checks about the length: the cheaper first.
        if (node.positions() <= length && extends && extension_keeps_count(v, length, k)) return Reason::not_maximal;
        const Reason reason = content_reason(node.minpos, length);
        if (reason != Reason::pass) return reason;
        if (node.positions() > length && extends && extension_keeps_count(v, length, k)) return Reason::not_maximal;
        return Reason::pass;
    }

private:
    std::uint64_t count(const frag::RepeatNode<I>& node, std::uint64_t length, std::uint64_t limit) {
        return chooser_.choose_each(node, static_cast<I>(length), limit, scratch_, [](std::uint64_t) {});
    }

    bool extension_keeps_count(I v, I length, std::uint64_t k) {
        return (length == depths_[v] && child_keeps_count(v, length, k)) || left_keeps_count(v, length, k);
    }

    Reason content_reason(I start, I length) {
        if (periodic_) {
            prefix_function(start, length);
            if (is_periodic(length)) return Reason::periodic;
        }
        if (entropy_) {
            count_elements(start, length);
            const bool low = entropy_of_counts(length) < min_entropy_;
            clear_counts();
            if (low) return Reason::low_entropy;
        }
        return Reason::pass;
    }

    // Without the maximal filter, lengths come one by one: one pass decides the
    // longest run of lengths down from b that share b's verdict.
    frag::FilterDecision<I> judge_lengths(I v, I a, I b) {
        const I start = nodes_[v].minpos;
        if (periodic_) prefix_function(start, b);
        if (entropy_) count_elements(start, b);
        auto verdict = [&](I length) {
            if (periodic_ && is_periodic(length)) return Reason::periodic;
            if (entropy_ && entropy_of_counts(length) < min_entropy_) return Reason::low_entropy;
            return Reason::pass;
        };
        const Reason top = verdict(b);
        I c = b;
        while (c > a) {
            if ((c & 0xFFF) == 0) pool::checkpoint();
            if (entropy_) uncount(sym_[start + c - 1]);
            if (verdict(c - 1) != top) break;
            --c;
        }
        if (entropy_) clear_counts();
        if (top == Reason::pass) return {true, static_cast<I>(b - 1), c};
        note(left_out_, top, std::uint64_t{b} - c + 1);
        return {false, static_cast<I>(c - 1), UNKNOWN};
    }

    // ---- right extensions at the node's depth: its children ----

    // Rows [lb, rb] share `length` elements and are sorted, so the rows whose
    // next element is the same are consecutive: a child is found by galloping.
    bool child_keeps_count(I v, I length, std::uint64_t k) {
        const frag::RepeatNode<I>& node = nodes_[v];
        auto next_element = [&](I row) -> std::uint64_t {
            const std::uint64_t at = std::uint64_t{sa_[row]} + length;
            return at < n_ ? std::uint64_t{sym_[at]} : UINT64_MAX;  // the suffix ends: no extension
        };
        I row = node.lb;
        if (next_element(row) == UINT64_MAX) ++row;  // the one suffix that ends sorts first
        while (row <= node.rb) {
            pool::checkpoint();
            const std::uint64_t c = next_element(row);
            // Last row with element c: gallop, then bisect.
            I lo = row;
            std::uint64_t step = 1;
            while (step <= node.rb - lo && next_element(static_cast<I>(lo + step)) == c) {
                lo = static_cast<I>(lo + step);
                step *= 2;
            }
            I hi = static_cast<I>(std::min<std::uint64_t>(node.rb, lo + step));  // next_element(hi) != c unless hi == rb
            while (lo < hi) {
                const I mid = lo + (hi - lo + 1) / 2;
                if (next_element(mid) == c) {
                    lo = mid;
                } else {
                    hi = mid - 1;
                }
            }
            if (std::uint64_t{lo} - row + 1 >= k && c != separator_) {
                frag::RepeatNode<I> child{row, lo, static_cast<I>(length + 1), static_cast<I>(length + 1), 0, 0};
                child.minpos = *std::min_element(sa_ + row, sa_ + lo + 1);
                child.maxpos = n_ - 1;  // an upper bound serves the count
                if (count(child, length + 1, k) == k) return true;
            }
            row = lo + 1;
        }
        return false;
    }

    // ---- left extensions: the starts grouped by the element before them ----

    // Whether a start has an element before it that a fragment can extend by.
    bool follows_element(I p) const { return p > 0 && std::uint64_t{sym_[p - 1]} != separator_; }

    bool left_keeps_count(I v, I length, std::uint64_t k) {
        const frag::RepeatNode<I>& node = nodes_[v];
        bool same = true, without_element = false;
        S first_before{};
        bool have_first = false;
        for (I r = node.lb; r <= node.rb; ++r) {
            if (((r - node.lb) & 0xFFFF) == 0xFFFF) pool::checkpoint();
            const I p = sa_[r];
            if (!follows_element(p)) {
                without_element = true;
                continue;
            }
            const S before = sym_[p - 1];
            if (!have_first) {
                first_before = before;
                have_first = true;
            } else if (before != first_before) {
                same = false;
            }
            add_count(before);
        }
        // One element before every start: its extension starts at all of them, shifted.
        if (same && !without_element) {
            clear_counts();
            return count(node, length + 1, k) == k;
        }
        bool any = false;
        for (S c : touched_) any = any || counts_[c] >= k;
        if (!any) {
            clear_counts();
            return false;
        }
        pairs_.clear();
        for (I r = node.lb; r <= node.rb; ++r) {
            const I p = sa_[r];
            if (follows_element(p) && counts_[sym_[p - 1]] >= k) pairs_.push_back({sym_[p - 1], p});
        }
        clear_counts();
        std::sort(pairs_.begin(), pairs_.end());
        for (std::size_t i = 0; i < pairs_.size();) {
            pool::checkpoint();
            std::size_t j = i;
            std::uint64_t taken = 0, next_free = 0;
            for (; j < pairs_.size() && pairs_[j].first == pairs_[i].first; ++j) {
                if (pairs_[j].second < next_free || taken == k) continue;
                next_free = std::uint64_t{pairs_[j].second} + length + 1;
                ++taken;
            }
            if (taken == k) return true;
            i = j;
        }
        return false;
    }

    // ---- the fragment's content ----

    // pi_[i]: the longest proper border of the fragment's first i + 1 elements.
    void prefix_function(I start, I length) {
        pi_.resize(length);
        const S* w = sym_ + start;
        pi_[0] = 0;
        for (I i = 1; i < length; ++i) {
            if ((i & 0xFFFF) == 0) pool::checkpoint();
            I j = pi_[i - 1];
            while (j > 0 && w[i] != w[j]) j = pi_[j - 1];
            pi_[i] = w[i] == w[j] ? j + 1 : j;
        }
    }

    // From the prefix function: the smallest period of the first `length`
    // elements is length - border; periodic when it is at most length / 2.
    bool is_periodic(I length) const { return 2 * (std::uint64_t{length} - pi_[length - 1]) <= length; }

    void add_count(S c) {
        if (counts_.empty()) counts_.assign(static_cast<std::size_t>(alphabet_), 0);
        if (counts_[c]++ == 0) touched_.push_back(c);
    }
    void uncount(S c) { --counts_[c]; }
    void clear_counts() {
        for (S c : touched_) counts_[c] = 0;
        touched_.clear();
        sorted_ = false;
    }
    void count_elements(I start, I length) {
        for (I i = 0; i < length; ++i) add_count(sym_[start + i]);
    }
    // Entropy of the counted elements, in ascending order of value (symbols
    // are ranks of values, so the same order).
    double entropy_of_counts(I length) {
        if (!sorted_) {
            std::sort(touched_.begin(), touched_.end());
            sorted_ = true;
        }
        ordered_.clear();
        for (S c : touched_) ordered_.push_back(counts_[c]);
        return fragment_entropy(ordered_, length);
    }

    const S* sym_;
    std::uint64_t n_;
    I alphabet_;
    const I* sa_;
    const std::vector<frag::RepeatNode<I>>& nodes_;
    const std::vector<I>& depths_;
    const frag::OccurrenceChooser<I>& chooser_;
    LeftOut& left_out_;
    std::uint64_t separator_;
    bool maximal_, periodic_, entropy_;
    double min_entropy_;
    std::uint64_t max_length_;

    frag::SortedStarts<I> scratch_;
    std::vector<I> pi_;
    std::vector<I> counts_;
    std::vector<std::uint64_t> ordered_;
    std::vector<S> touched_;
    bool sorted_ = false;
    std::vector<std::pair<S, I>> pairs_;
};

}  // namespace veltrane::strings::repeats
