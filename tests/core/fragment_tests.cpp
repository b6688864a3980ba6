// Unit tests of the fragment search's structures against naive versions, and
// of the whole engine against the first (per-length) engine on random,
// structured and exhaustive inputs.
#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "check.hpp"
#include "suites.hpp"

#include "reference_search.hpp"
#include "strings/frag/byte_suffix_array.hpp"
#include "strings/frag/same_preceding.hpp"
#include "strings/frag/search.hpp"
#include "strings/frag/suffix_array.hpp"
#include "strings/frag/taken_positions.hpp"
#include "strings/frag/wavelet_matrix.hpp"

namespace {

namespace frag = veltrane::strings::frag;

int passed = 0, failed = 0;
bool long_form = false;  // --long: the exhaustive and random comparisons at full size


// Counts many sub-checks as one, reporting the first failure with its context.
struct Tally {
    std::string name;
    bool ok = true;
    void expect(bool cond, const std::string& context) {
        if (!cond && ok) std::fprintf(stderr, "%s: first mismatch at %s\n", name.c_str(), context.c_str());
        ok = ok && cond;
    }
    ~Tally() { CHECK(ok); }
};

std::string show(const std::vector<std::uint32_t>& s) {
    std::string out;
    for (std::uint32_t c : s) out += std::to_string(c) + " ";
    return out.size() > 200 ? out.substr(0, 200) + "..." : out;
}

// ---- structures ----------------------------------------------------------------

template <class I>
std::vector<I> naive_suffix_array(const std::vector<std::uint32_t>& s) {
    std::vector<I> sa(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) sa[i] = static_cast<I>(i);
    std::sort(sa.begin(), sa.end(), [&](I a, I b) {
        return std::lexicographical_compare(s.begin() + a, s.end(), s.begin() + b, s.end());
    });
    return sa;
}

// Suffix order by doubling the compared prefix: O(n log^2 n), independent of induced sorting.
std::vector<std::uint32_t> doubling_suffix_array(const std::vector<std::uint32_t>& s) {
    const std::size_t n = s.size();
    std::vector<std::uint32_t> sa(n);
    std::vector<std::uint64_t> rank(s.begin(), s.end()), next(n);
    for (std::size_t i = 0; i < n; ++i) sa[i] = static_cast<std::uint32_t>(i);
    for (std::size_t width = 1;; width *= 2) {
        auto key = [&](std::uint32_t i) {
            return std::pair{rank[i], i + width < n ? rank[i + width] + 1 : 0};
        };
        std::sort(sa.begin(), sa.end(), [&](std::uint32_t a, std::uint32_t b) { return key(a) < key(b); });
        next[sa[0]] = 0;
        for (std::size_t r = 1; r < n; ++r) next[sa[r]] = next[sa[r - 1]] + (key(sa[r - 1]) < key(sa[r]) ? 1 : 0);
        rank.swap(next);
        if (rank[sa[n - 1]] == n - 1 || width >= n) break;
    }
    return sa;
}

std::vector<std::uint32_t> fibonacci_word(std::size_t n) {
    std::vector<std::uint32_t> a{0}, b{0, 1};
    while (b.size() < n) {
        std::vector<std::uint32_t> c = b;
        c.insert(c.end(), a.begin(), a.end());
        a = std::move(b);
        b = std::move(c);
    }
    b.resize(n);
    return b;
}

std::vector<std::uint32_t> thue_morse(std::size_t n) {
    std::vector<std::uint32_t> s(n);
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<std::uint32_t>(std::popcount(i) & 1);
    return s;
}

std::vector<std::uint32_t> random_string(std::mt19937_64& rng, std::size_t n, std::uint32_t alphabet) {
    std::vector<std::uint32_t> s(n);
    for (auto& c : s) c = static_cast<std::uint32_t>(rng() % alphabet);
    return s;
}

// Structured strings that stress repeats: periodic, self-similar, repeated blocks.
std::vector<std::vector<std::uint32_t>> structured_strings(std::mt19937_64& rng, std::size_t n) {
    std::vector<std::vector<std::uint32_t>> out;
    out.push_back(std::vector<std::uint32_t>(n, 0));
    std::vector<std::uint32_t> ab(n), abc(n);
    for (std::size_t i = 0; i < n; ++i) ab[i] = i % 2, abc[i] = i % 3;
    out.push_back(ab);
    out.push_back(abc);
    out.push_back(fibonacci_word(n));
    out.push_back(thue_morse(n));
    // X X, X X X X, X Y X, and X with one mutation repeated.
    const std::size_t q = std::max<std::size_t>(1, n / 4);
    std::vector<std::uint32_t> x = random_string(rng, q, 4), y = random_string(rng, q, 4);
    std::vector<std::uint32_t> xx = x, xxxx, xyx = x, xmx = x;
    xx.insert(xx.end(), x.begin(), x.end());
    for (int i = 0; i < 4; ++i) xxxx.insert(xxxx.end(), x.begin(), x.end());
    xyx.insert(xyx.end(), y.begin(), y.end());
    xyx.insert(xyx.end(), x.begin(), x.end());
    std::vector<std::uint32_t> mutated = x;
    mutated[rng() % q] ^= 1;
    xmx.insert(xmx.end(), mutated.begin(), mutated.end());
    for (auto* s : {&xx, &xxxx, &xyx, &xmx}) out.push_back(*s);
    return out;
}

void test_suffix_and_lcp_arrays() {
    Tally tally{"suffix array / LCP against naive"};
    std::mt19937_64 rng(7);
    std::vector<std::vector<std::uint32_t>> inputs;
    for (std::size_t n : {1, 2, 3, 5, 8, 13, 64, 100, 257, 1000}) {
        for (std::uint32_t alphabet : {1u, 2u, 3u, 4u, 26u, 256u, 5000u}) inputs.push_back(random_string(rng, n, alphabet));
        for (auto& s : structured_strings(rng, n)) inputs.push_back(s);
    }
    inputs.push_back({0, 0, 0});
    inputs.push_back({2, 1, 0});
    inputs.push_back({0, 1, 2});
    for (const auto& s : inputs) {
        const std::uint32_t n = static_cast<std::uint32_t>(s.size());
        const std::uint32_t alphabet = *std::max_element(s.begin(), s.end()) + 1;
        std::vector<std::uint32_t> sa(n);
        frag::build_suffix_array<std::uint32_t, std::uint32_t>(s.data(), n, alphabet, sa.data());
        tally.expect(sa == naive_suffix_array<std::uint32_t>(s), "32-bit " + show(s));
        std::vector<std::uint64_t> sa64(n);
        frag::build_suffix_array<std::uint32_t, std::uint64_t>(s.data(), n, alphabet, sa64.data());
        tally.expect(sa64 == naive_suffix_array<std::uint64_t>(s), "64-bit " + show(s));
        const auto plcp = frag::build_text_order_lcp<std::uint32_t, std::uint32_t>(s.data(), n, sa.data());
        bool lcp_ok = plcp.size() == n && (n == 0 || plcp[sa[0]] == 0);
        for (std::uint32_t r = 1; r < n && lcp_ok; ++r) {
            std::uint32_t h = 0;
            while (sa[r] + h < n && sa[r - 1] + h < n && s[sa[r] + h] == s[sa[r - 1] + h]) ++h;
            lcp_ok = plcp[sa[r]] == h;
        }
        tally.expect(lcp_ok, "lcp " + show(s));
    }
    // Bytes go to libdivsufsort from BYTE_SORT_FROM on: the same order as
    // induced sorting, at every index width, on random and structured bytes
    // (0x00 and 0xFF included, no sentinel).
    for (std::size_t n : {1, 2, 3, 100, 5000, 70000}) {
        std::vector<std::vector<std::uint32_t>> bytes;
        for (std::uint32_t alphabet : {1u, 2u, 256u}) bytes.push_back(random_string(rng, n, alphabet));
        for (auto& s : structured_strings(rng, n)) bytes.push_back(s);
        std::vector<std::uint32_t> extremes(n);
        for (std::size_t i = 0; i < n; ++i) extremes[i] = rng() % 3 ? 0 : 255;
        bytes.push_back(extremes);
        for (const auto& s : bytes) {
            const std::vector<std::uint8_t> b(s.begin(), s.end());
            const std::size_t m = b.size();
            std::vector<std::uint32_t> sais(m), lib(m);
            std::vector<std::uint64_t> lib64(m);
            frag::build_suffix_array<std::uint8_t, std::uint32_t>(b.data(), static_cast<std::uint32_t>(m), 256, sais.data());
            frag::build_byte_suffix_array(b.data(), static_cast<std::uint32_t>(m), lib.data());
            frag::build_byte_suffix_array(b.data(), std::uint64_t{m}, lib64.data());
            tally.expect(lib == sais && std::equal(lib64.begin(), lib64.end(), sais.begin()),
                         "divsufsort n=" + std::to_string(m) + " " + show(s));
        }
    }
    // Long inputs exercise the recursion and the LCP pieces on the pool; the
    // reference order comes from prefix doubling.
    for (auto& s : structured_strings(rng, 100000)) {
        const std::uint32_t n = static_cast<std::uint32_t>(s.size());
        std::vector<std::uint32_t> sa(n);
        frag::build_suffix_array<std::uint32_t, std::uint32_t>(s.data(), n, 4, sa.data());
        tally.expect(sa == doubling_suffix_array(s), "long structured");
        const auto plcp = frag::build_text_order_lcp<std::uint32_t, std::uint32_t>(s.data(), n, sa.data());
        bool lcp_ok = true;
        for (std::uint32_t r = 1; r < n && lcp_ok; r += 997) {
            std::uint32_t h = 0;
            while (sa[r] + h < n && sa[r - 1] + h < n && s[sa[r] + h] == s[sa[r - 1] + h]) ++h;
            lcp_ok = plcp[sa[r]] == h;
        }
        tally.expect(lcp_ok, "long lcp");
    }
    // Every position of inputs long enough for several pieces of the
    // text-order pass, against a sequential computation from the inverse order.
    auto sequential_lcp = [](const std::vector<std::uint8_t>& s, const std::vector<std::uint32_t>& sa) {
        const std::size_t n = s.size();
        std::vector<std::uint32_t> row_of(n), lcp(n, 0);
        for (std::size_t r = 0; r < n; ++r) row_of[sa[r]] = static_cast<std::uint32_t>(r);
        std::size_t h = 0;
        for (std::size_t p = 0; p < n; ++p) {
            if (row_of[p] == 0) {
                h = 0;
                continue;
            }
            const std::size_t q = sa[row_of[p] - 1];
            while (p + h < n && q + h < n && s[p + h] == s[q + h]) ++h;
            lcp[row_of[p]] = static_cast<std::uint32_t>(h);
            if (h > 0) --h;
        }
        return lcp;
    };
    std::vector<std::vector<std::uint32_t>> long_inputs;
    for (std::uint32_t alphabet : {2u, 256u}) long_inputs.push_back(random_string(rng, 300000, alphabet));
    for (auto& s : structured_strings(rng, 300000)) long_inputs.push_back(s);
    for (const auto& wide : long_inputs) {
        const std::vector<std::uint8_t> s(wide.begin(), wide.end());
        const std::uint32_t n = static_cast<std::uint32_t>(s.size());
        std::vector<std::uint32_t> sa(n);
        frag::sort_suffixes<std::uint8_t, std::uint32_t>(s.data(), n, 256, sa.data());
        const auto plcp = frag::build_text_order_lcp<std::uint8_t, std::uint32_t>(s.data(), n, sa.data());
        const std::vector<std::uint32_t> expected = sequential_lcp(s, sa);
        bool same = plcp.size() == n;
        for (std::uint32_t r = 0; r < n && same; ++r) same = plcp[sa[r]] == expected[r];
        tally.expect(same,
                     "lcp in pieces, n=" + std::to_string(n) + " " + show(wide));
    }
}

// The walk admits the nodes' items band by band; however small the batches,
// it yields the sequence of one heap of everything, and drops the same lengths.
template <class Rank>
void compare_walk_batches(Tally& tally, const std::vector<std::uint32_t>& s, std::uint64_t times) {
    const std::uint32_t n = static_cast<std::uint32_t>(s.size());
    const std::uint32_t alphabet = *std::max_element(s.begin(), s.end()) + 1;
    std::vector<std::uint32_t> sa(n);
    frag::build_suffix_array<std::uint32_t, std::uint32_t>(s.data(), n, alphabet, sa.data());
    const auto plcp = frag::build_text_order_lcp<std::uint32_t, std::uint32_t>(s.data(), n, sa.data());
    const auto nodes = frag::collect_repeat_nodes<std::uint32_t>(sa.data(), plcp.data(), n, times, n / times);
    const frag::OccurrenceChooser<std::uint32_t> chooser(sa.data(), n);
    auto drain = [&](std::size_t first_batch, std::uint64_t& dropped) {
        frag::RankedWalk<std::uint32_t, Rank> walk(nodes, chooser, times, first_batch);
        std::vector<std::uint64_t> out;
        frag::RankedFragment<std::uint32_t> f;
        while (walk.next(f)) out.insert(out.end(), {f.node, f.length, f.count});
        dropped = walk.dropped_for_count();
        return out;
    };
    std::uint64_t dropped_all = 0;
    const std::vector<std::uint64_t> all = drain(nodes.size() + 1, dropped_all);
    for (std::size_t first_batch : {1, 2, 5}) {
        std::uint64_t dropped = 0;
        tally.expect(drain(first_batch, dropped) == all && dropped == dropped_all,
                     "batch " + std::to_string(first_batch) + " times " + std::to_string(times) + " " + show(s));
    }
}

void test_walk_batches() {
    Tally tally{"ranked walk in batches against one heap"};
    std::mt19937_64 rng(29);
    std::vector<std::vector<std::uint32_t>> inputs;
    for (std::size_t n : {1, 2, 7, 64, 300, 3000}) {
        for (std::uint32_t alphabet : {1u, 2u, 4u, 256u}) inputs.push_back(random_string(rng, n, alphabet));
        for (auto& s : structured_strings(rng, n)) inputs.push_back(s);
    }
    for (const auto& s : inputs) {
        for (std::uint64_t times : {1, 2, 3}) {
            // Once-only fragments are every length of every suffix: a long input's are too many.
            if (times > s.size() || (times == 1 && s.size() > 300)) continue;
            compare_walk_batches<frag::CoverageRank>(tally, s, times);
            compare_walk_batches<frag::SavingsRank>(tally, s, times);
        }
    }
}

// Row ranges of a shuffled permutation on both sides of the switch to digit
// sorting, with 32-bit starts and 64-bit ones above 2^33 (a fourth digit),
// against a comparison sort; a range asked for again comes back unchanged.
template <class I>
void compare_sorted_starts(Tally& tally, std::mt19937_64& rng, std::size_t n, std::uint64_t offset) {
    std::vector<I> sa(n);
    for (std::size_t i = 0; i < n; ++i) sa[i] = static_cast<I>(offset + i * 7);
    std::shuffle(sa.begin(), sa.end(), rng);
    frag::SortedStarts<I> starts;
    const std::size_t from = frag::SortedStarts<I>::RADIX_FROM;
    for (std::size_t size : {std::size_t{1}, from - 1, from, from + 1, n / 2, n}) {
        for (int round = 0; round < 3; ++round) {
            const std::size_t lb = rng() % (n - size + 1), rb = lb + size - 1;
            std::vector<I> expected(sa.begin() + lb, sa.begin() + rb + 1);
            std::sort(expected.begin(), expected.end());
            const std::string context = std::to_string(sizeof(I) * 8) + "-bit size " + std::to_string(size);
            tally.expect(starts.of(sa.data(), lb, rb) == expected, context);
            tally.expect(starts.of(sa.data(), lb, rb) == expected, context + " again");
        }
    }
}

void test_sorted_starts() {
    Tally tally{"sorted starts against a comparison sort"};
    std::mt19937_64 rng(31);
    compare_sorted_starts<std::uint32_t>(tally, rng, 200000, 0);
    compare_sorted_starts<std::uint32_t>(tally, rng, 50000, std::uint64_t{1} << 31);
    compare_sorted_starts<std::uint64_t>(tally, rng, 50000, std::uint64_t{1} << 40);
}

// Whether neighbouring rows follow the same element, against reading the two
// elements, on word and piece boundaries and with a suffix at position 0.
void test_same_preceding() {
    Tally tally{"same preceding element of neighbouring rows"};
    std::mt19937_64 rng(37);
    std::vector<std::vector<std::uint32_t>> inputs;
    for (std::size_t n : {1, 2, 63, 64, 65, 129, 5000, 200000}) {
        for (std::uint32_t alphabet : {1u, 2u, 256u}) inputs.push_back(random_string(rng, n, alphabet));
        for (auto& s : structured_strings(rng, n)) inputs.push_back(s);
    }
    for (const auto& s : inputs) {
        const std::uint32_t n = static_cast<std::uint32_t>(s.size());
        const std::uint32_t alphabet = *std::max_element(s.begin(), s.end()) + 1;
        std::vector<std::uint32_t> sa(n);
        frag::build_suffix_array<std::uint32_t, std::uint32_t>(s.data(), n, alphabet, sa.data());
        const std::vector<std::uint8_t> bytes(s.begin(), s.end());
        const frag::SamePreceding wide(s.data(), n, sa.data()), narrow(bytes.data(), n, sa.data());
        bool same = true;
        for (std::uint32_t r = 0; r < n && same; ++r) {
            const bool expected = r > 0 && sa[r - 1] > 0 && sa[r] > 0 && s[sa[r - 1] - 1] == s[sa[r] - 1];
            same = wide(r) == expected && narrow(r) == expected;
        }
        tally.expect(same, "n=" + std::to_string(n) + " " + show(s));
    }
}

// Room for the scan's intervals is asked for up front: granted, it covers every
// interval (and leaf); refused, the list is left as it was and still fills.
void test_interval_reserve() {
    Tally tally{"capacity reserved for the intervals"};
    for (bool leaves : {false, true}) {
        std::vector<frag::RepeatNode<std::uint32_t>> nodes;
        frag::reserve_for_intervals(nodes, 100000, leaves);
        tally.expect(nodes.empty() && nodes.capacity() >= (leaves ? 200000u : 100000u), "granted");
    }
    std::vector<std::uint64_t> refused{1, 2, 3};
    frag::reserve_for_intervals(refused, UINT64_MAX / 4, true);
    refused.push_back(4);
    tally.expect(refused == std::vector<std::uint64_t>{1, 2, 3, 4}, "refused");
}

void test_wavelet_matrix() {
    Tally tally{"wavelet matrix next_value against a scan"};
    std::mt19937_64 rng(11);
    for (std::size_t n : {1, 2, 63, 64, 65, 200, 1000}) {
        for (int kind = 0; kind < 3; ++kind) {
            std::vector<std::uint32_t> values(n);
            for (std::size_t i = 0; i < n; ++i) {
                values[i] = kind == 0 ? static_cast<std::uint32_t>(i) : kind == 1 ? static_cast<std::uint32_t>(rng() % n)
                                                                                : static_cast<std::uint32_t>(rng() % 3);
            }
            std::shuffle(values.begin(), values.end(), rng);
            const unsigned bits = std::max(1u, static_cast<unsigned>(std::bit_width(n)));
            frag::WaveletMatrix<std::uint32_t> wm(values.data(), n, bits);
            for (int q = 0; q < 2000; ++q) {
                std::size_t lo = rng() % (n + 1), hi = rng() % (n + 1);
                if (lo > hi) std::swap(lo, hi);
                const std::uint32_t y = static_cast<std::uint32_t>(rng() % (n + 3));
                std::uint32_t expected = frag::WaveletMatrix<std::uint32_t>::NONE;
                for (std::size_t i = lo; i < hi; ++i) {
                    if (values[i] >= y) expected = std::min(expected, values[i]);
                }
                tally.expect(wm.next_value(lo, hi, y) == expected,
                             "n=" + std::to_string(n) + " lo=" + std::to_string(lo) + " hi=" + std::to_string(hi) +
                                 " y=" + std::to_string(y));
            }
        }
    }
}

void test_taken_positions() {
    Tally tally{"taken positions against a flag vector"};
    std::mt19937_64 rng(5);
    for (std::uint64_t n : {0ull, 1ull, 63ull, 64ull, 65ull, 4095ull, 4096ull, 4097ull, 300000ull}) {
        frag::TakenPositions taken(n);
        std::vector<bool> flags(n, false);
        for (int round = 0; round < 200; ++round) {
            if (n > 0) {
                const std::uint64_t start = rng() % n;
                const std::uint64_t length = 1 + rng() % std::max<std::uint64_t>(1, round % 2 ? 3 : n / 10 + 1);
                const std::uint64_t end = std::min(n, start + length);
                bool free = true;
                for (std::uint64_t p = start; p < end; ++p) free = free && !flags[p];
                tally.expect(taken.any_taken(start, end) == !free, "any_taken n=" + std::to_string(n));
                if (free) {
                    taken.take(start, end);
                    for (std::uint64_t p = start; p < end; ++p) flags[p] = true;
                }
            }
            for (int q = 0; q < 20; ++q) {
                const std::uint64_t x = n ? rng() % (n + 2) : 0;
                std::uint64_t expected = n;
                for (std::uint64_t p = x; p < n; ++p) {
                    if (flags[p]) {
                        expected = p;
                        break;
                    }
                }
                tally.expect(taken.next_taken(x) == expected, "next_taken n=" + std::to_string(n));
            }
            const std::uint64_t free_count = static_cast<std::uint64_t>(std::count(flags.begin(), flags.end(), false));
            tally.expect(taken.free_count() == free_count, "free_count n=" + std::to_string(n));
        }
    }
}

// ---- the engine against the reference -------------------------------------------

// Ids must also run 0, 1, 2, ...: checked on one side, the comparison covers the other.
bool same_result(const std::vector<frag::Fragment>& a, const std::vector<frag::Fragment>& b) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].id != i) return false;
    }
    return veltrane::reference::same_fragments(a, b);
}

template <class T>
bool engines_agree(const std::vector<T>& s, std::uint64_t count, std::uint64_t times, bool global) {
    std::span<const T> seq(s.data(), s.size());
    return same_result(frag::find_non_overlapping_fragments_generic(seq, count, times, global),
                       veltrane::reference::reference_find_fragments(seq, count, times, global));
}

template <class T>
std::vector<T> as(const std::vector<std::uint32_t>& s, std::uint32_t offset = 0) {
    std::vector<T> out(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) out[i] = static_cast<T>(s[i] + offset);
    return out;
}

void compare_all_ways(Tally& tally, const std::vector<std::uint32_t>& s, const std::vector<std::uint64_t>& counts) {
    const std::uint64_t n = s.size();
    for (std::uint64_t times : std::vector<std::uint64_t>{1, 2, 3, 4, 5, n, n + 1}) {
        for (std::uint64_t count : counts) {
            for (bool global : {false, true}) {
                const std::string context = "times=" + std::to_string(times) + " count=" + std::to_string(count) +
                                            " global=" + std::to_string(global) + " s=" + show(s);
                tally.expect(engines_agree(as<std::uint8_t>(s), count, times, global), "bytes " + context);
                tally.expect(engines_agree(as<std::uint32_t>(s, 0x10FFF0), count, times, global), "ucs4 " + context);
            }
        }
    }
}

void test_engine_exhaustive() {
    Tally tally{"engine = reference on every short string over {a,b} and {a,b,c}"};
    const std::vector<std::uint64_t> all{UINT64_MAX};
    for (std::uint32_t alphabet : {2u, 3u}) {
        const std::size_t longest = alphabet == 2 ? (long_form ? 14 : 11) : (long_form ? 10 : 7);
        for (std::size_t n = 0; n <= longest; ++n) {
            std::vector<std::uint32_t> s(n, 0);
            for (;;) {
                compare_all_ways(tally, s, all);
                std::size_t i = 0;
                while (i < n && s[i] == alphabet - 1) s[i++] = 0;
                if (i == n) break;
                ++s[i];
            }
        }
    }
}

void test_engine_random_and_structured() {
    Tally tally{"engine = reference on random and structured inputs"};
    std::mt19937_64 rng(2024);
    const std::vector<std::uint64_t> counts{1, 3, 10, 100, UINT64_MAX};
    for (int round = 0; round < (long_form ? 5000 : 150); ++round) {
        const std::size_t n = 1 + rng() % 120;
        const std::uint32_t alphabet = 1 + static_cast<std::uint32_t>(rng() % (round % 3 == 0 ? 2 : 6));
        compare_all_ways(tally, random_string(rng, n, alphabet), counts);
    }
    for (std::size_t n : {1, 2, 7, 30, 97, 160}) {
        for (auto& s : structured_strings(rng, n)) compare_all_ways(tally, s, counts);
    }
    // The whole value range of each element type, and a two-value alphabet at its ends.
    std::vector<std::uint32_t> extremes{0, 0x10FFFF, 0, 0x10FFFF, 0x10FFFF, 0, 0, 0x10FFFF};
    for (std::uint64_t times : {1ull, 2ull, 3ull}) {
        for (bool global : {false, true}) {
            tally.expect(engines_agree(extremes, UINT64_MAX, times, global), "code point extremes");
            tally.expect(engines_agree(as<std::uint16_t>({0, 65535, 0, 65535, 1, 0, 65535}), UINT64_MAX, times, global),
                         "ucs2 extremes");
            tally.expect(engines_agree(as<std::uint8_t>({0, 255, 0, 255, 255, 0, 0, 255}), UINT64_MAX, times, global),
                         "byte extremes");
        }
    }
    // 64-bit positions (taken above 4 Gi elements) run the same walk.
    for (int round = 0; round < 40; ++round) {
        const std::vector<std::uint8_t> s = as<std::uint8_t>(random_string(rng, 1 + rng() % 200, 2 + round % 3));
        for (std::uint64_t times : {1ull, 2ull, 3ull}) {
            for (bool global : {false, true}) {
                std::span<const std::uint8_t> seq(s.data(), s.size());
                tally.expect(same_result(frag::detail::search_with_index<std::uint64_t>(seq, 30, times, global),
                                         veltrane::reference::reference_find_fragments(seq, 30, times, global)),
                             "64-bit positions");
            }
        }
    }
    // Larger inputs, where the walk stops long before the end of the ranking.
    for (int round = 0; round < 6; ++round) {
        std::vector<std::uint32_t> s = random_string(rng, 1500, 3 + round);
        const std::vector<std::uint32_t> block = random_string(rng, 200, 3 + round);
        for (int copy = 0; copy < 1 + round % 3; ++copy) {
            const std::size_t at = rng() % (s.size() - block.size());
            std::copy(block.begin(), block.end(), s.begin() + static_cast<std::ptrdiff_t>(at));
        }
        for (std::uint64_t times : {2ull, 3ull}) {
            for (bool global : {false, true}) {
                tally.expect(engines_agree(as<std::uint8_t>(s), 50, times, global), "block repeats");
            }
        }
    }
}

}  // namespace

int run_fragment_tests(bool long_run) {
    long_form = long_run;
    for (auto [name, test] : {std::pair{"suffix/lcp", &test_suffix_and_lcp_arrays}, {"walk batches", &test_walk_batches},
                              {"sorted starts", &test_sorted_starts},
                              {"same preceding", &test_same_preceding},
                              {"interval reserve", &test_interval_reserve},
                              {"wavelet", &test_wavelet_matrix},
                              {"taken", &test_taken_positions}, {"exhaustive", &test_engine_exhaustive},
                              {"random+structured", &test_engine_random_and_structured}}) {
        const auto begin = std::chrono::steady_clock::now();
        test();
        std::printf("  %s: %.1f s\n", name,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    }
    std::printf("fragment core tests: %d passed, %d failed\n", passed, failed);
    return failed;
}
