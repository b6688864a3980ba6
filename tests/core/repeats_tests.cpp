// The repeats search against the brute-force model of its definition, on every
// short string over two letters for every combination of options, on random
// and pitfall strings in bytes and code points; its tie to the fragment
// search; and invariants on real files.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "check.hpp"
#include "suites.hpp"

#include "reference_repeats.hpp"
#include "strings/frag/search.hpp"
#include "strings/repeats/search.hpp"

namespace {

namespace frag = veltrane::strings::frag;
namespace rep = veltrane::strings::repeats;
using veltrane::reference::ModelRepeat;
using veltrane::reference::RepeatsModel;

int passed = 0, failed = 0;
bool long_form = false;

// Many sub-checks counted as one, reporting the first failure with its context.
struct Group {
    std::string name;
    bool ok = true;
    void expect(bool cond, const std::string& context) {
        if (!cond && ok) std::fprintf(stderr, "%s: first mismatch at %s\n", name.c_str(), context.c_str());
        ok = ok && cond;
    }
    ~Group() { CHECK(ok); }
};

template <class T>
std::string show(const std::vector<T>& s) {
    std::string out;
    for (T c : s) out += (c >= 32 && c < 127) ? std::string(1, static_cast<char>(c)) : "<" + std::to_string(c) + ">";
    return out.size() > 120 ? out.substr(0, 120) + "..." : out;
}

std::string show(const rep::Options& o) {
    auto opt = [](const auto& v) { return v ? std::to_string(*v) : std::string("none"); };
    return "top=" + opt(o.top) + " min_count=" + std::to_string(o.min_count) + " min_length=" +
           std::to_string(o.min_length) + " max_length=" + opt(o.max_length) + " rank=" +
           std::string(rep::rank_name(o.rank)) + " maximal=" + std::to_string(o.maximal) +
           " periodic=" + std::to_string(o.exclude_periodic) + " min_entropy=" + opt(o.min_entropy) +
           " non_overlap=" + std::to_string(o.non_overlap) + " max_starts=" + opt(o.max_starts);
}

// The engine's columns against the model's list, and the counts of what was
// left out against the model's candidates.
template <class T>
std::string compare(const rep::RepeatsResult& r, const RepeatsModel<T>& model, const rep::Options& o) {
    const std::vector<ModelRepeat> want = model.repeats(o);
    if (r.size() != want.size()) return "size " + std::to_string(r.size()) + " != " + std::to_string(want.size());
    if (r.counts.size() != r.size() || r.firsts.size() != r.size() || r.scores.size() != r.size() ||
        r.truncated.size() != r.size() || r.offsets.size() != r.size() + 1 || r.offsets[0] != 0 ||
        r.starts.size() != r.offsets.back()) {
        return "column sizes";
    }
    const std::uint64_t max_starts = o.max_starts.value_or(UINT64_MAX);
    for (std::size_t i = 0; i < want.size(); ++i) {
        const ModelRepeat& w = want[i];
        if (r.lengths[i] != w.length || r.counts[i] != w.count || r.firsts[i] != w.first || r.scores[i] != w.score) {
            return "fragment " + std::to_string(i) + " length " + std::to_string(r.lengths[i]) + "/" +
                   std::to_string(w.length) + " count " + std::to_string(r.counts[i]) + "/" + std::to_string(w.count) +
                   " first " + std::to_string(r.firsts[i]) + "/" + std::to_string(w.first);
        }
        const std::uint64_t stored = std::min<std::uint64_t>(w.count, max_starts);
        if (r.offsets[i + 1] - r.offsets[i] != stored) return "stored starts of " + std::to_string(i);
        if (!std::equal(r.starts.begin() + static_cast<std::ptrdiff_t>(r.offsets[i]),
                        r.starts.begin() + static_cast<std::ptrdiff_t>(r.offsets[i + 1]), w.starts.begin())) {
            return "starts of " + std::to_string(i);
        }
        if (r.truncated[i] != (stored < w.count ? 1 : 0)) return "truncated flag of " + std::to_string(i);
    }
    // What was left out: disabled filters count nothing; each count is at most
    // the candidates its filter rejects, at least those only it rejects.
    const auto& fs = model.fragments();
    std::uint64_t raw = 0, by[4] = {0, 0, 0, 0}, only[4] = {0, 0, 0, 0};
    for (std::size_t i = 0; i < fs.size(); ++i) {
        if (!model.length_ok(i, o) || fs[i].occurrences < o.min_count) continue;
        ++raw;
        const bool reasons[4] = {fs[i].count() < o.min_count, o.exclude_periodic && fs[i].periodic,
                                 o.min_entropy && fs[i].entropy < *o.min_entropy, o.maximal && !model.maximal(i, o)};
        const int how_many = reasons[0] + reasons[1] + reasons[2] + reasons[3];
        for (int k = 0; k < 4; ++k) {
            by[k] += reasons[k];
            only[k] += reasons[k] && how_many == 1;
        }
    }
    const std::uint64_t got[4] = {r.left_out.few_non_overlapping, r.left_out.periodic, r.left_out.low_entropy,
                                  r.left_out.not_maximal};
    for (int k = 0; k < 4; ++k) {
        if (got[k] > by[k]) return "left-out count " + std::to_string(k) + " above its rejects";
    }
    if (!o.top && !o.non_overlap) {
        for (int k = 0; k < 4; ++k) {
            if (got[k] < only[k]) return "left-out count " + std::to_string(k) + " below its sole rejects";
        }
        if (got[0] + got[1] + got[2] + got[3] != raw - r.size()) return "left-out counts do not add up";
    }
    if (o.top && !o.non_overlap && !want.empty()) {
        // Every candidate ranked above the last kept one was examined.
        std::uint64_t passed_over = 0;
        std::size_t kept = 0;
        for (std::size_t i : model.ranked_candidates(o)) {
            if (kept == want.size()) break;
            if (model.qualifies(i, o)) {
                ++kept;
            } else {
                ++passed_over;
            }
        }
        if (got[1] + got[2] + got[3] < passed_over) return "left-out counts miss candidates ranked above the last";
    }
    return "";
}

// Runs the engine on a string through the byte path (divsufsort) when it fits
// in bytes, and through the wide path (induced sorting, symbols of 32 bits).
template <class T>
std::string check_both_paths(const std::vector<T>& s, const RepeatsModel<T>& model, const rep::Options& o) {
    if constexpr (sizeof(T) == 1) {
        const std::string bytes = compare(rep::find_repeats(std::span<const T>(s), o), model, o);
        if (!bytes.empty()) return "bytes: " + bytes;
    } else {
        const std::string wide = compare(rep::find_repeats(std::span<const T>(s), o), model, o);
        if (!wide.empty()) return "code points: " + wide;
    }
    // Symbols of 32 bits whatever the alphabet: the induced-sorting path.
    std::vector<std::uint32_t> symbols(s.begin(), s.end());
    std::uint32_t alphabet = 0;
    const std::vector<std::uint32_t> ranks = frag::detail::element_ranks(std::span<const std::uint32_t>(symbols), alphabet);
    if (s.empty() || o.top == std::uint64_t{0} || o.min_count > s.size() || o.min_length > s.size()) return "";
    const std::string wide = compare(
        rep::detail::search_ranked<std::uint32_t, std::uint32_t>(ranks.data(), static_cast<std::uint32_t>(s.size()),
                                                                 alphabet, o),
        model, o);
    return wide.empty() ? "" : "wide symbols: " + wide;
}

// Every combination of the options' interesting values.
std::vector<rep::Options> option_grid(std::uint64_t n) {
    std::vector<rep::Options> grid;
    for (auto top : {std::optional<std::uint64_t>{}, std::optional<std::uint64_t>{2}})
    for (std::uint64_t min_count : {1, 2, 3})
    for (std::uint64_t min_length : {1, 3})
    for (auto max_length : {std::optional<std::uint64_t>{}, std::optional<std::uint64_t>{4}})
    for (rep::Rank rank : {rep::Rank::savings, rep::Rank::coverage})
    for (bool maximal : {false, true})
    for (bool periodic : {false, true})
    for (auto entropy : {std::optional<double>{}, std::optional<double>{1.0}})
    for (bool non_overlap : {false, true})
    for (auto max_starts : {std::optional<std::uint64_t>{}, std::optional<std::uint64_t>{1}}) {
        if (max_length && *max_length < min_length) continue;
        (void)n;
        grid.push_back({top, min_count, min_length, max_length, rank, maximal, periodic, entropy, non_overlap,
                        max_starts});
    }
    return grid;
}

rep::Options random_options(std::mt19937_64& rng, std::uint64_t n) {
    rep::Options o;
    o.top = rng() % 3 == 0 ? std::optional<std::uint64_t>{} : std::optional<std::uint64_t>{rng() % 6};
    o.min_count = 1 + rng() % 4;
    o.min_length = 1 + rng() % 5;
    if (rng() % 2) o.max_length = o.min_length + rng() % (n + 1);
    o.rank = rng() % 2 ? rep::Rank::savings : rep::Rank::coverage;
    o.maximal = rng() % 2;
    o.exclude_periodic = rng() % 2;
    if (rng() % 2) o.min_entropy = static_cast<double>(rng() % 5) * 0.5;
    o.non_overlap = rng() % 2;
    if (rng() % 2) o.max_starts = rng() % 4;
    return o;
}

// ---- the suites ----

void test_options() {
    Group group{"option checks and their messages"};
    auto message = [](const rep::Options& o) -> std::string {
        try {
            rep::validate(o);
            return "";
        } catch (const std::invalid_argument& e) {
            return e.what();
        }
    };
    rep::Options o;
    group.expect(message(o).empty(), "defaults are valid");
    o.min_count = 0;
    group.expect(message(o) == "min_count must be at least 1", "min_count 0");
    o = {};
    o.min_length = 0;
    group.expect(message(o) == "min_length must be at least 1", "min_length 0");
    o = {};
    o.max_length = 3;
    group.expect(message(o) == "max_length (3) must be at least min_length (4)", "max_length below min_length");
    o.max_length = 4;
    group.expect(message(o).empty(), "max_length = min_length");
    o = {};
    for (double bad : {-0.5, std::nan("")}) {
        o.min_entropy = bad;
        group.expect(message(o) == "min_entropy must be a number of bits per element, 0 or more", "min_entropy");
    }
    o.min_entropy = 0.0;
    group.expect(message(o).empty(), "min_entropy 0");
    group.expect(rep::parse_rank("savings") == rep::Rank::savings && rep::parse_rank("coverage") == rep::Rank::coverage,
                 "rank names");
    std::string rank_message;
    try {
        rep::parse_rank("Savings");
    } catch (const std::invalid_argument& e) {
        rank_message = e.what();
    }
    group.expect(rank_message == "rank must be \"savings\" or \"coverage\", not \"Savings\"", "rank message");
    // The search itself checks first, whatever the input.
    bool threw = false;
    try {
        rep::Options zero;
        zero.min_count = 0;
        const std::vector<std::uint8_t> empty;
        rep::find_repeats(std::span<const std::uint8_t>(empty), zero);
    } catch (const std::invalid_argument&) {
        threw = true;
    }
    group.expect(threw, "find_repeats validates an empty input's options");
}

void test_exhaustive() {
    Group group{"engine = model on every string over {a,b}, every option combination"};
    const std::size_t longest = long_form ? 10 : 8;
    for (std::size_t n = 1; n <= longest; ++n) {
        const std::vector<rep::Options> grid = option_grid(n);
        for (std::uint64_t bits = 0; bits < (std::uint64_t{1} << n); ++bits) {
            std::vector<std::uint8_t> s;
            for (std::size_t i = 0; i < n; ++i) s.push_back((bits >> i) & 1 ? 'b' : 'a');
            const RepeatsModel<std::uint8_t> model{std::span<const std::uint8_t>(s)};
            for (const rep::Options& o : grid) {
                const std::string why = check_both_paths(s, model, o);
                group.expect(why.empty(), why + " s=" + show(s) + " " + show(o));
                if (!group.ok) return;
            }
        }
    }
}

void test_random_and_pitfalls() {
    Group group{"engine = model on random strings, pitfall strings and code points"};
    std::mt19937_64 rng(14);
    auto run = [&](const auto& s, const std::vector<rep::Options>& grid) {
        using T = typename std::decay_t<decltype(s)>::value_type;
        const RepeatsModel<T> model{std::span<const T>(s)};
        for (const rep::Options& o : grid) {
            const std::string why = check_both_paths(s, model, o);
            group.expect(why.empty(), why + " s=" + show(s) + " " + show(o));
        }
    };
    for (int round = 0; round < (long_form ? 3000 : 300); ++round) {
        const std::size_t n = 1 + rng() % 36;
        const std::uint32_t alphabet = 3 + static_cast<std::uint32_t>(rng() % 2);
        std::vector<std::uint8_t> s(n);
        for (auto& c : s) c = static_cast<std::uint8_t>('a' + rng() % alphabet);
        std::vector<rep::Options> grid;
        for (int k = 0; k < 24; ++k) grid.push_back(random_options(rng, n));
        run(s, grid);
    }
    // Runs of one value, periodic strings, the maximality traps of the definition.
    std::vector<std::string> pitfalls{"#a#a##a#a", "aaaa#aaaa", "aabaabaab", "abaababaab", "xabcabcabcy"};
    for (std::size_t k : {2, 3, 5, 8, 13, 24}) {
        pitfalls.push_back(std::string(k, 'a'));
        std::string ab, abc;
        for (std::size_t i = 0; i < k; ++i) ab += "ab", abc += "abc";
        pitfalls.push_back(ab);
        pitfalls.push_back(abc + "ab");
        pitfalls.push_back(std::string(k, 'a') + "b" + std::string(k, 'a'));
    }
    const std::vector<rep::Options> grid = option_grid(0);
    for (const std::string& p : pitfalls) run(std::vector<std::uint8_t>(p.begin(), p.end()), grid);
    // Code points beyond the basic plane, 0 and the largest.
    for (const std::string& p : {std::string("#a#a##a#a"), std::string("aaaa#aaaa"), std::string("abcabcab")}) {
        std::vector<std::uint32_t> wide;
        for (char c : p) wide.push_back(c == '#' ? 0x10FFFF : c == 'a' ? 0x1F600 : c == 'b' ? 0 : 0x10000);
        run(wide, grid);
    }
    for (int round = 0; round < (long_form ? 400 : 60); ++round) {
        const std::size_t n = 1 + rng() % 24;
        const std::uint32_t values[4] = {0, 0x10FFFF, 0x1F600, 0xFFFF};
        std::vector<std::uint32_t> s(n);
        for (auto& c : s) c = values[rng() % 4];
        std::vector<rep::Options> some;
        for (int k = 0; k < 16; ++k) some.push_back(random_options(rng, n));
        run(s, some);
    }
}

void test_known_answers() {
    Group group{"the definition's own examples"};
    auto find = [](const std::string& s, rep::Options o) {
        return rep::find_repeats(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()), o);
    };
    auto has = [](const rep::RepeatsResult& r, std::uint64_t start, std::uint64_t length) {
        for (std::size_t i = 0; i < r.size(); ++i) {
            if (r.lengths[i] == length && r.firsts[i] == start) return true;
        }
        return false;
    };
    // "#a#" has g = 2 like "#a#a": a classical maximal repeat, but not under g.
    rep::Options o;
    o.min_length = 1;
    o.exclude_periodic = false;
    o.non_overlap = false;
    o.top.reset();
    const rep::RepeatsResult hash = find("#a#a##a#a", o);
    group.expect(!has(hash, 0, 3) && has(hash, 0, 4), "#a#a##a#a keeps #a#a, not #a#");
    // Zero runs vanish as periodic fragments and say so; "ab" stays, (ab)^k goes.
    const std::string zeros(100000, '\0');
    const rep::RepeatsResult z = find(zeros, rep::Options{});
    group.expect(z.size() == 0 && z.left_out.periodic > 0, "a zero run is periodic throughout");
    o = {};
    o.min_length = 2;
    o.maximal = false;
    o.top.reset();
    const rep::RepeatsResult ab = find("abababab", o);
    group.expect(ab.size() == 1 && ab.lengths[0] == 2 && ab.counts[0] == 4 && ab.left_out.periodic > 0, "(ab)^k");
}

void test_equivalence_with_fragment_search() {
    Group group{"repeats with the fragment search's settings = the fragment search"};
    std::mt19937_64 rng(99);
    auto same = [&](const auto& s, std::uint64_t count, std::uint64_t times, bool global) {
        using T = typename std::decay_t<decltype(s)>::value_type;
        std::span<const T> seq(s.data(), s.size());
        rep::Options o{count, times, 1, std::nullopt, rep::Rank::coverage, false, false, std::nullopt, global,
                       std::nullopt};
        const rep::RepeatsResult r = rep::find_repeats(seq, o);
        const std::vector<frag::Fragment> f = frag::find_non_overlapping_fragments_generic(seq, count, times, global);
        if (r.size() != f.size()) return false;
        for (std::size_t i = 0; i < f.size(); ++i) {
            const auto& occ = f[i].occurrences;
            if (r.counts[i] != occ.size() || r.lengths[i] != occ[0].end - occ[0].start || r.firsts[i] != occ[0].start) {
                return false;
            }
            for (std::size_t k = 0; k < occ.size(); ++k) {
                if (r.starts[r.offsets[i] + k] != occ[k].start) return false;
            }
        }
        return true;
    };
    for (int round = 0; round < (long_form ? 3000 : 400); ++round) {
        const std::size_t n = 1 + rng() % 300;
        const std::uint32_t alphabet = 1 + static_cast<std::uint32_t>(rng() % (round % 3 == 0 ? 2 : 8));
        std::vector<std::uint8_t> s(n);
        for (auto& c : s) c = static_cast<std::uint8_t>(rng() % alphabet);
        if (round % 5 == 0) {  // a block placed twice
            const std::size_t len = n / 3;
            std::copy(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(len), s.end() - static_cast<std::ptrdiff_t>(len));
        }
        std::vector<std::uint32_t> wide(s.begin(), s.end());
        for (auto& c : wide) c = c * 0x10FFFFu / 7u;
        for (std::uint64_t times : {std::uint64_t{1}, std::uint64_t{2}, std::uint64_t{3}, std::uint64_t{n}, n + 1}) {
            for (std::uint64_t count : {std::uint64_t{1}, std::uint64_t{5}, std::uint64_t{40}, UINT64_MAX}) {
                for (bool global : {false, true}) {
                    const std::string context = "n=" + std::to_string(n) + " times=" + std::to_string(times) +
                                                " count=" + std::to_string(count) + " global=" + std::to_string(global);
                    group.expect(same(s, count, times, global), "bytes " + context);
                    if (round % 4 == 0) group.expect(same(wide, count, times, global), "code points " + context);
                }
            }
        }
    }
}

// Facts every result must have, checked on real files and larger inputs
// where the model is too slow.
template <class T>
std::string invariants(const std::vector<T>& s, const rep::Options& o) {
    const rep::RepeatsResult r = rep::find_repeats(std::span<const T>(s), o);
    rep::Options all_starts = o;
    all_starts.max_starts.reset();
    const rep::RepeatsResult full = o.max_starts ? rep::find_repeats(std::span<const T>(s), all_starts) : r;
    if (full.size() != r.size()) return "max_starts changed the fragments";
    std::vector<bool> taken(s.size(), false);
    for (std::size_t i = 0; i < r.size(); ++i) {
        const std::uint64_t L = r.lengths[i], k = r.counts[i];
        if (full.counts[i] != k || full.lengths[i] != L) return "max_starts changed a count";
        if (full.offsets[i + 1] - full.offsets[i] != k) return "a full list is not the count";
        if (k < o.min_count || L < o.min_length || (o.max_length && L > *o.max_length)) return "bounds";
        const std::uint64_t stored = r.offsets[i + 1] - r.offsets[i];
        if (stored != std::min(k, o.max_starts.value_or(UINT64_MAX)) || r.truncated[i] != (stored < k)) return "truncation";
        const std::uint64_t* st = full.starts.data() + full.offsets[i];
        if (st[0] != r.firsts[i]) return "first";
        for (std::uint64_t j = 0; j < k; ++j) {
            if (j > 0 && st[j] < st[j - 1] + L) return "starts not ascending and disjoint";
            if (!std::equal(s.begin() + static_cast<std::ptrdiff_t>(st[j]), s.begin() + static_cast<std::ptrdiff_t>(st[j] + L),
                            s.begin() + static_cast<std::ptrdiff_t>(st[0]))) {
                return "an occurrence differs from the fragment";
            }
            if (j < stored && r.starts[r.offsets[i] + j] != st[j]) return "stored starts are not the first ones";
            if (o.non_overlap) {
                for (std::uint64_t p = st[j]; p < st[j] + L; ++p) {
                    if (taken[p]) return "a shared position under non_overlap";
                    taken[p] = true;
                }
            }
        }
        // Content filters, checked directly on the fragment.
        std::vector<T> w(s.begin() + static_cast<std::ptrdiff_t>(st[0]), s.begin() + static_cast<std::ptrdiff_t>(st[0] + L));
        if (o.exclude_periodic) {
            std::size_t period = 1;
            while (period < L && !std::equal(w.begin() + static_cast<std::ptrdiff_t>(period), w.end(), w.begin())) ++period;
            if (2 * period <= L) return "a periodic fragment";
        }
        if (o.min_entropy) {
            std::vector<T> sorted = w;
            std::sort(sorted.begin(), sorted.end());
            std::vector<std::uint64_t> counts;
            for (std::size_t a = 0; a < sorted.size();) {
                std::size_t b = a;
                while (b < sorted.size() && sorted[b] == sorted[a]) ++b;
                counts.push_back(b - a);
                a = b;
            }
            if (rep::fragment_entropy(counts, L) < *o.min_entropy) return "a low-entropy fragment";
        }
        if (i > 0) {
            const bool before = r.scores[i - 1] > r.scores[i] ||
                                (r.scores[i - 1] == r.scores[i] &&
                                 (r.lengths[i - 1] > L || (r.lengths[i - 1] == L && (r.counts[i - 1] > k ||
                                  (r.counts[i - 1] == k && r.firsts[i - 1] < r.firsts[i])))));
            if (!before) return "rank order";
        }
    }
    return "";
}

std::vector<std::uint8_t> read_file(const char* path, std::size_t limit) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.size() > limit) data.resize(limit);
    return data;
}

void test_invariants() {
    Group group{"invariants on real files and larger inputs"};
    std::vector<std::vector<std::uint8_t>> inputs;
    inputs.push_back(read_file("/proc/self/exe", long_form ? 4 << 20 : 1 << 20));
    inputs.push_back(read_file(__FILE__, 1 << 20));
    std::mt19937_64 rng(3);
    std::vector<std::uint8_t> mixed(200000);
    for (auto& c : mixed) c = static_cast<std::uint8_t>(rng() % 4 == 0 ? 0 : rng() % 256);
    inputs.push_back(mixed);
    group.expect(inputs[0].size() > 10000 && inputs[1].size() > 10000, "the test's own files are readable");
    for (const auto& s : inputs) {
        for (int variant = 0; variant < 6; ++variant) {
            rep::Options o;
            if (variant == 0) o.min_entropy = 1.0;
            if (variant == 1) o.max_starts = 3;
            if (variant == 2) o.rank = rep::Rank::coverage, o.top = 200;
            if (variant == 3) o.non_overlap = false, o.max_starts = 0;
            if (variant == 4) o.maximal = false, o.top = 60, o.min_entropy = 2.0;
            if (variant == 5) o.max_length = 9, o.min_count = 3, o.top = 100;
            const std::string why = invariants(s, o);
            group.expect(why.empty(), why + " n=" + std::to_string(s.size()) + " " + show(o));
        }
    }
    // Text read as code points: the README-like source of this file, widened.
    const std::vector<std::uint32_t> text(inputs[1].begin(), inputs[1].end());
    group.expect(invariants(text, rep::Options{}).empty(), "code points");
    // 64-bit positions run the same search.
    for (int round = 0; round < 30; ++round) {
        std::vector<std::uint8_t> s(1 + rng() % 30);
        for (auto& c : s) c = static_cast<std::uint8_t>('a' + rng() % 3);
        const RepeatsModel<std::uint8_t> model{std::span<const std::uint8_t>(s)};
        const rep::Options o = random_options(rng, s.size());
        if (o.top == std::uint64_t{0} || o.min_count > s.size() || o.min_length > s.size()) continue;
        const std::string why =
            compare(rep::detail::repeats_with_index<std::uint64_t>(std::span<const std::uint8_t>(s), o), model, o);
        group.expect(why.empty(), "64-bit positions: " + why + " s=" + show(s) + " " + show(o));
    }
}

}  // namespace

int run_repeats_tests(bool long_run) {
    long_form = long_run;
    for (auto [name, test] : {std::pair{"options", &test_options}, {"known answers", &test_known_answers},
                              {"exhaustive", &test_exhaustive}, {"random+pitfalls", &test_random_and_pitfalls},
                              {"equivalence", &test_equivalence_with_fragment_search},
                              {"invariants", &test_invariants}}) {
        const auto begin = std::chrono::steady_clock::now();
        test();
        std::printf("  %s: %.1f s\n", name,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    }
    std::printf("repeats core tests: %d passed, %d failed\n", passed, failed);
    return failed;
}
