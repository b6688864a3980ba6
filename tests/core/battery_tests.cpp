// The randomness battery and the window profile against plain loops: the state
// of a range field by field (tests/core/reference_battery.hpp), merges at any
// split, serialisation and its rejection of damage, the final figures against
// independently written formulas and the existing measures, counts past 2^32
// and 2^64 through constructed states, and every profile value against
// measuring its window alone.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "check.hpp"
#include "suites.hpp"

#include "battery/bit_entropy.hpp"
#include "battery/chi_square.hpp"
#include "battery/finish.hpp"
#include "battery/kernel.hpp"
#include "battery/pass.hpp"
#include "battery/profile.hpp"
#include "battery/serialize.hpp"
#include "battery/state.hpp"
#include "min_entropy/min_entropy.hpp"
#include "reference_battery.hpp"
#include "shannon_entropy/measures.hpp"

namespace {

int passed = 0, failed = 0;

using namespace veltrane::battery;
using reference::naive_state;
using reference::same_state;
using Bytes = std::vector<std::uint8_t>;

std::mt19937_64 rng(0xBA77E41);

std::size_t below(std::size_t n) { return static_cast<std::size_t>(rng() % n); }

// Random bytes of one of several kinds: uniform, one value, a few values,
// text-like with capitals, extremes only.
Bytes make_bytes(std::size_t n, int kind) {
    Bytes b(n);
    const std::uint8_t one = static_cast<std::uint8_t>(rng());
    static const std::uint8_t text[] = {'A', 'b', 'Z', 'z', ' ', '\n', 0xC4, 0xE4, 0xD7, 0xDE, 0xDF, '@', '['};
    for (auto& v : b) {
        switch (kind % 5) {
            case 0: v = static_cast<std::uint8_t>(rng()); break;
            case 1: v = one; break;
            case 2: v = static_cast<std::uint8_t>(one + rng() % 3); break;
            case 3: v = text[below(sizeof text)]; break;
            default: v = (rng() & 1) ? 0xFF : 0x00; break;
        }
    }
    return b;
}

bool same_double(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) || (std::isnan(a) && std::isnan(b));
}

State measure_at(const Bytes& b, std::size_t begin, std::size_t end, std::uint64_t start, bool fold) {
    PassOptions options;
    options.start = start;
    options.case_fold = fold;
    return measure_state(b.data() + begin, end - begin, options);
}

// ---------------------------------------------------------------- the state of a range

void test_kernels() {
    // The plain loops against the naive model at every short length and
    // alignment; the vector versions are held to them in test_one_pass_kernels.
    Bytes buffer = make_bytes(4096 + 64, 0);
    bool pairs_ok = true, hits_ok = true;
    for (std::size_t offset = 0; offset < 40; ++offset) {
        for (std::size_t n = 0; n < 300; n += (n < 80 ? 1 : 7)) {
            const std::uint8_t* p = buffer.data() + offset;
            const State naive = naive_state(p, n, 0);
            const kernel::PairSums sums = kernel::pair_sums_portable(p, n);
            pairs_ok &= sums.products == naive.adjacent_products && sums.seams == naive.seam_bit_pairs;
            hits_ok &= kernel::monte_carlo_hits_portable(p, n / 6) == naive_state(p, n / 6 * 6, 0).mc_hits;
        }
    }
    CHECK(pairs_ok);
    CHECK(hits_ok);
    // The quarter circle includes its boundary: (2^24 - 1, 0) hits, (2^24 - 1, 1) does not.
    const std::uint8_t on_circle[12] = {0xFF, 0xFF, 0xFF, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0, 1};
    CHECK(mc_hit(on_circle) && !mc_hit(on_circle + 6));
    Bytes points;
    for (int k = 0; k < 50; ++k) points.insert(points.end(), on_circle, on_circle + 12);
    for (auto f : {kernel::block_sums_portable, kernel::block_sums_avx2, kernel::block_sums_avx512}) {
        veltrane::util::ByteHistogram hist{};
        CHECK(f(points.data(), points.size(), 0, 100, hist).hits == 50);
    }
    std::printf("battery kernels: vector versions %s\n",
                kernel::have_avx512() ? "tested (AVX2, AVX-512)"
                : kernel::have_avx2() ? "tested (AVX2; AVX-512 not available here)"
                                      : "not available here");
}

void test_one_pass_kernels() {
    // The histogram, pair sums and Monte Carlo hits of one pass against the plain
    // loops: every lead (the bytes of a group begun before the block), lengths
    // around the vector body's 192-byte strides and its widening every 42 of
    // them, and every kind of data.
    using BlockFunction = kernel::BlockSums (*)(const std::uint8_t*, std::size_t, std::size_t, std::size_t,
                                                veltrane::util::ByteHistogram&);
    const BlockFunction versions[] = {kernel::block_sums_portable, kernel::block_sums_avx2, kernel::block_sums_avx512,
                                      kernel::block_sums};
    auto agrees = [&](const std::uint8_t* p, std::size_t n, std::uint64_t start) {
        const State naive = naive_state(p, n, start);
        bool ok = true;
        for (BlockFunction f : versions) {
            veltrane::util::ByteHistogram hist{};
            const kernel::BlockSums sums = f(p, n, lead_length(start, n), complete_groups(start, n), hist);
            ok &= hist == naive.histogram && sums.pairs.products == naive.adjacent_products &&
                  sums.pairs.seams == naive.seam_bit_pairs && sums.hits == naive.mc_hits;
        }
        return ok;
    };
    bool ok = true;
    for (int kind = 0; kind < 5; ++kind) {
        const Bytes data = make_bytes(20000 + 8, kind);
        for (std::uint64_t start = 0; start < 6; ++start) {
            for (std::size_t n : {0, 1, 5, 6, 7, 63, 64, 65, 195, 196, 197, 199, 200, 201, 202, 205, 389, 392, 393,
                                  1000, 1027, 8064, 8069, 8261, 20000}) {
                ok &= agrees(data.data() + start % 3, n, start);
                // Alone in an allocation of its own, so that the sanitizers
                // see a vector body that reads past the end.
                const Bytes exact(data.begin() + static_cast<std::ptrdiff_t>(start % 3),
                                  data.begin() + static_cast<std::ptrdiff_t>(start % 3 + n));
                ok &= agrees(exact.data(), n, start);
            }
        }
    }
    CHECK(ok);
    // Random lengths, positions in the stream and kinds of data, each in an
    // allocation of its own: the bounds of the vector body wherever they fall.
    bool random_ok = true;
    for (int trial = 0; trial < 400; ++trial) {
        const Bytes data = make_bytes(below(3 * 192 * 42), static_cast<int>(below(5)));
        random_ok &= agrees(data.data(), data.size(), rng() >> 1);
    }
    CHECK(random_ok);
    // All 0xFF: the largest products, every pair a seam pair and every point
    // outside, over many widenings of the vector sums.
    const Bytes ones(std::size_t{1} << 20 | 77, 0xFF);
    for (BlockFunction f : versions) {
        veltrane::util::ByteHistogram hist{};
        const kernel::BlockSums sums = f(ones.data(), ones.size(), 0, ones.size() / 6, hist);
        const std::uint64_t pairs = ones.size() - 1;
        CHECK(sums.pairs.products == pairs * 65025 && sums.pairs.seams == pairs && sums.hits == 0 &&
              hist[255] == ones.size());
    }
    // 0xFF beside 0x00 and 0x7F beside 0x80: the extremes of a signed-byte
    // dot product, positive and negative, over many widenings.
    using Pair = std::array<std::uint8_t, 2>;
    for (const Pair& pair : {Pair{0xFF, 0x00}, Pair{0x7F, 0x80}}) {
        Bytes seesaw((std::size_t{1} << 20) + 11);
        for (std::size_t i = 0; i < seesaw.size(); ++i) seesaw[i] = pair[i % 2];
        CHECK(agrees(seesaw.data(), seesaw.size(), 0) && agrees(seesaw.data() + 1, seesaw.size() - 1, 3));
    }
}

void test_state_against_naive() {
    const std::size_t sizes[] = {0, 1, 2, 5, 6, 7, 11, 12, 13, 1000, 65535, 65536, 65537, 262143, 262144, 262145,
                                 (std::size_t{1} << 20) + 12345};
    const std::uint64_t starts[] = {0, 1, 5, 6, 1000003, std::numeric_limits<std::uint64_t>::max() - (1 << 21)};
    for (std::size_t n : sizes) {
        for (int kind = 0; kind < 5; ++kind) {
            const Bytes b = make_bytes(n, kind);
            const std::uint64_t start = starts[below(std::size(starts))];
            for (bool fold : {false, true}) {
                const State fast = measure_at(b, 0, n, start, fold);
                CHECK(same_state(fast, naive_state(b.data(), n, start, fold)));
            }
            CHECK(same_state(block_state(b.data(), n, start), naive_state(b.data(), n, start)));
        }
    }
    // A piece may end at 2^64 - 1 but not beyond.
    const Bytes b = make_bytes(10, 0);
    const std::uint64_t top = std::numeric_limits<std::uint64_t>::max();
    CHECK(same_state(measure_at(b, 0, 10, top - 10, false), naive_state(b.data(), 10, top - 10)));
    bool threw = false;
    try {
        measure_at(b, 0, 10, top - 9, false);
    } catch (const std::invalid_argument&) {
        threw = true;
    }
    CHECK(threw);
}

void test_case_fold_table() {
    // ent -f's translation, from its description: A-Z and the Latin-1 capitals
    // except the multiplication sign.
    CHECK(CASE_FOLD['A'] == 'a' && CASE_FOLD['Z'] == 'z' && CASE_FOLD['@'] == '@' && CASE_FOLD['['] == '[');
    CHECK(CASE_FOLD['a'] == 'a' && CASE_FOLD[0xC0] == 0xE0 && CASE_FOLD[0xDE] == 0xFE);
    CHECK(CASE_FOLD[0xD7] == 0xD7 && CASE_FOLD[0xDF] == 0xDF && CASE_FOLD[0xBF] == 0xBF && CASE_FOLD[0xFF] == 0xFF);
    int changed = 0;
    bool same_as_reference = true;
    for (int v = 0; v < 256; ++v) {
        changed += CASE_FOLD[v] != v;
        same_as_reference &= CASE_FOLD[v] == reference::fold_case(static_cast<std::uint8_t>(v));
    }
    CHECK(changed == 26 + 30);
    CHECK(same_as_reference);
}

// Random cut points (any offsets, pieces of 0-13 bytes, empty pieces),
// merged left to right and as a random tree, give the state of the whole.
void test_merge_at_any_split() {
    bool left_ok = true, tree_ok = true;
    for (int round = 0; round < 400; ++round) {
        const std::size_t n = round % 10 == 0 ? 300000 + below(5000) : below(200);
        const Bytes b = make_bytes(n, round);
        const bool fold = round % 3 == 0;
        std::vector<std::size_t> cuts = {0, n};
        const std::size_t count = below(12);
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t anchor = below(n + 1);
            cuts.push_back(std::min(n, anchor + below(14)));  // short pieces near random places
            cuts.push_back(anchor);
        }
        std::sort(cuts.begin(), cuts.end());  // equal neighbours are empty pieces
        const std::uint64_t base = round % 4 == 0 ? rng() >> 8 : 0;
        std::vector<State> pieces;
        for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
            pieces.push_back(measure_at(b, cuts[k], cuts[k + 1], base + cuts[k], fold));
        }
        const State whole = naive_state(b.data(), n, base, fold);
        State left = pieces[0];
        for (std::size_t k = 1; k < pieces.size(); ++k) append(left, pieces[k]);
        left_ok &= same_state(left, whole);
        while (pieces.size() > 1) {
            const std::size_t k = below(pieces.size() - 1);
            pieces[k] = merge(pieces[k], pieces[k + 1]);
            pieces.erase(pieces.begin() + static_cast<std::ptrdiff_t>(k) + 1);
        }
        tree_ok &= same_state(pieces[0], whole);
    }
    CHECK(left_ok);
    CHECK(tree_ok);
}

void test_merge_rejects_strangers() {
    const Bytes b = make_bytes(100, 0);
    const State a = measure_at(b, 0, 40, 0, false), c = measure_at(b, 41, 100, 41, false);
    const State folded = measure_at(b, 40, 100, 40, true);
    std::string message;
    State target = a;
    try {
        append(target, c);
    } catch (const std::invalid_argument& e) {
        message = e.what();
    }
    CHECK(message == "cannot merge battery states: the second piece starts at offset 41, not where the first ends (40)");
    CHECK(same_state(target, a));
    message.clear();
    try {
        merge(a, folded);
    } catch (const std::invalid_argument& e) {
        message = e.what();
    }
    CHECK(message == "cannot merge battery states: one piece was case-folded and the other was not");
    // An empty piece belongs at its own offset too.
    bool threw = false;
    try {
        merge(a, empty_state(39));
    } catch (const std::invalid_argument&) {
        threw = true;
    }
    CHECK(threw);
    CHECK(same_state(merge(empty_state(0), a), a) && same_state(merge(a, empty_state(40)), a));
}

// ---------------------------------------------------------------- serialisation

void test_serialize() {
    std::vector<State> states;
    for (int round = 0; round < 60; ++round) {
        const std::size_t n = below(3) == 0 ? below(14) : below(3000);
        const Bytes b = make_bytes(n, round);
        const std::uint64_t start = round % 5 == 0 ? std::numeric_limits<std::uint64_t>::max() - n - below(7) : below(1000);
        states.push_back(measure_at(b, 0, n, start, round % 2 == 0));
    }
    State huge;  // every varint at its widest
    huge.size = std::numeric_limits<std::uint64_t>::max();
    huge.histogram[0] = huge.size - 255;
    for (std::size_t v = 1; v < 256; ++v) huge.histogram[v] = 1;
    huge.adjacent_products = UInt128{huge.size - 1} * 65025;
    huge.seam_bit_pairs = huge.size - 1;
    huge.mc_groups = complete_groups(0, huge.size);
    huge.mc_hits = huge.mc_groups;
    huge.first = 0;
    huge.last = 7;
    for (std::size_t i = 0; i < trail_length(0, huge.size); ++i) huge.trail[i] = i + 3 < trail_length(0, huge.size) ? 1 : 7;
    states.push_back(huge);

    bool round_trip = true, damage_rejected = true, truncation_rejected = true;
    for (const State& s : states) {
        const std::string bytes = serialize(s);
        round_trip &= same_state(deserialize(bytes), s);
        // Every changed byte and every truncation is refused, never misread.
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            std::string damaged = bytes;
            damaged[i] = static_cast<char>(damaged[i] ^ static_cast<char>(1 + below(255)));
            try {
                deserialize(damaged);
                damage_rejected = false;
            } catch (const std::invalid_argument&) {
            }
            try {
                deserialize(bytes.substr(0, i));
                truncation_rejected = false;
            } catch (const std::invalid_argument&) {
            }
        }
        try {
            deserialize(bytes + '\0');
            truncation_rejected = false;
        } catch (const std::invalid_argument&) {
        }
    }
    CHECK(round_trip);
    CHECK(damage_rejected);
    CHECK(truncation_rejected);

    // Well-formed checksums over impossible contents: each is refused with its reason.
    auto with_checksum = [](std::string body) {
        const std::uint32_t crc = crc32(reinterpret_cast<const std::uint8_t*>(body.data()), body.size());
        for (int k = 0; k < 4; ++k) body.push_back(static_cast<char>((crc >> (8 * k)) & 0xFF));
        return body;
    };
    auto reason = [](const std::string& bytes) {
        try {
            deserialize(bytes);
        } catch (const std::invalid_argument& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    const Bytes data = {'a', 'b', 'c', 'd', 'e', 'f', 'g'};
    const std::string good = serialize(measure_at(data, 0, 7, 0, false));
    std::string body = good.substr(0, good.size() - 4);
    CHECK(reason(with_checksum(body)) == "accepted");
    std::string bad = body;
    bad[4] = 2;
    CHECK(reason(with_checksum(bad)) == "unsupported battery state format version 2 (this build reads version 1)");
    bad = body;
    bad[0] = 'X';
    CHECK(reason(with_checksum(bad)) == "not a valid battery state: it does not begin with the battery state marker");
    bad = body;
    bad[5] = 4;
    CHECK(reason(with_checksum(bad)) == "not a valid battery state: unknown flags");
    bad = body;
    bad[7] = 8;  // size 8 while the histogram holds 7
    CHECK(reason(with_checksum(bad)) == "not a valid battery state: the histogram does not add up to the size");
    bad = body;
    bad.insert(6, "\x80\x00", 2);  // start 0 written in two bytes
    bad.erase(8, 1);
    CHECK(reason(with_checksum(bad)) == "not a valid battery state: the start offset is not in its shortest form");
    CHECK(reason(with_checksum(body + "x")) == "not a valid battery state: it has bytes after the state");
    CHECK(reason(good.substr(0, 9)) == "not a valid battery state: it is truncated");
    CHECK(reason(good.substr(0, good.size() - 1)) ==
          "not a valid battery state: its checksum does not match (damaged or truncated)");
    CHECK(reason(std::string("VLTB")) == "not a valid battery state: it does not begin with the battery state marker");
    // More hits than groups: 'a'..'g' has one group; hits is the varint before the end bytes.
    bad = body;
    const std::size_t hits_at = bad.size() - 2 /* end bytes */ - 1 /* trail 'g' */ - 1;
    bad[hits_at] = 2;
    CHECK(reason(with_checksum(bad)) == "not a valid battery state: more Monte Carlo hits than groups");
}

// ---------------------------------------------------------------- the figures

// The symbols of ent's two modes: bytes, or bits most significant first.
std::vector<unsigned> symbols(const Bytes& b, bool bits) {
    std::vector<unsigned> u;
    for (std::uint8_t v : b) {
        if (!bits) {
            u.push_back(v);
        } else {
            for (int k = 7; k >= 0; --k) u.push_back((v >> k) & 1u);
        }
    }
    return u;
}

// Every figure from the symbol sequence, written out as the formulas read.
void check_figures(const Bytes& raw, bool bits, bool fold, bool& ok) {
    Bytes b = raw;
    if (fold) {
        for (auto& v : b) v = reference::fold_case(v);
    }
    const Result r = measure(raw.data(), raw.size(), bits, fold);
    const std::vector<unsigned> u = symbols(b, bits);
    const std::size_t k = bits ? 2 : 256, n = u.size();
    std::vector<std::uint64_t> counts(k, 0);
    for (unsigned v : u) ++counts[v];
    ok &= r.bits == bits && r.size == n && r.histogram == counts && r.chi_square_df == k - 1;
    if (n == 0) {
        // The entropies of nothing are +0.0, as the module's functions give; the statistics are undefined.
        for (double v : {r.shannon_entropy, r.metric_entropy, r.normalized_entropy, r.min_entropy}) {
            ok &= v == 0.0 && !std::signbit(v);
        }
        for (double v : {r.min_entropy_mcv, r.chi_square, r.chi_square_p, r.mean, r.monte_carlo_pi, r.monte_carlo_error_percent,
                         r.serial_correlation, r.compression_percent}) {
            ok &= std::isnan(v);
        }
        ok &= r.ent.entropy == 0.0 && r.ent.compression_percent == 100 && r.ent.serial_correlation_undefined;
        return;
    }
    const double nd = static_cast<double>(n);
    // Entropies: in byte mode the module's own functions on the same bytes.
    if (!bits) {
        ok &= same_double(r.shannon_entropy, veltrane::shannon_entropy::measure_entropy(b.data(), b.size()));
        ok &= same_double(r.metric_entropy, veltrane::shannon_entropy::measure_metric_entropy(b.data(), b.size()));
        ok &= same_double(r.normalized_entropy,
                          veltrane::shannon_entropy::measure_normalized_metric_entropy(b.data(), b.size()));
        ok &= same_double(r.min_entropy, veltrane::min_entropy::min_entropy(b.data(), b.size()));
    } else {
        double h = -0.0;
        for (std::uint64_t c : counts) {
            if (c != 0) h = h - std::log2(c / nd) * (c / nd);
        }
        ok &= same_double(r.shannon_entropy, h) && same_double(r.metric_entropy, h);
        ok &= same_double(r.normalized_entropy, std::min(1.0, h / expected_random_bit_entropy(n)));
        ok &= same_double(r.min_entropy, -std::log2(std::max(counts[0], counts[1]) / nd));
    }
    double ent_h = 0.0;
    for (std::uint64_t c : counts) {
        const double p = c / nd;
        if (c != 0) ent_h += p * std::log2(1.0 / p);
    }
    ok &= same_double(r.ent.entropy, ent_h);
    const double width = bits ? 1.0 : 8.0;
    ok &= r.ent.compression_percent == static_cast<int>(100.0 * (width - ent_h) / width);
    ok &= same_double(r.compression_percent, 100.0 * (width - r.shannon_entropy) / width);
    const double most = static_cast<double>(*std::max_element(counts.begin(), counts.end())) / nd;
    const double pu = n == 1 ? 1.0 : std::min(1.0, most + 2.5758293035489008 * std::sqrt(most * (1 - most) / (nd - 1)));
    ok &= same_double(r.min_entropy_mcv, -std::log2(pu));

    // Chi-square, mean and serial correlation with ent's double sums, symbol by symbol.
    const double e = nd / k;
    double chi = 0.0;
    for (std::uint64_t c : counts) chi += (c - e) * (c - e) / e;
    ok &= same_double(r.chi_square, chi);
    ok &= same_double(r.chi_square_p, chi_square_survival(k - 1, chi));
    ok &= same_double(r.ent.chi_square_p, ent_chi_square_survival(k - 1, chi));
    double s = 0, s2 = 0, s1 = 0;
    for (std::size_t i = 0; i < n; ++i) {
        s += u[i];
        s2 += static_cast<double>(u[i]) * u[i];
        s1 += static_cast<double>(u[i]) * u[(i + 1) % n];
    }
    ok &= same_double(r.mean, s / nd);
    const double denominator = nd * s2 - s * s;
    ok &= r.ent.serial_correlation_undefined == (denominator == 0.0);
    const bool constant = std::count(counts.begin(), counts.end(), 0u) == static_cast<std::ptrdiff_t>(k - 1);
    ok &= same_double(r.serial_correlation, constant ? std::nan("") : (nd * s1 - s * s) / denominator);

    // Monte Carlo on the bytes, whatever the mode.
    std::uint64_t groups = 0, hits = 0;
    for (std::size_t i = 0; i + 6 <= b.size(); i += 6) {
        ++groups;
        const double x = (b[i] * 256.0 + b[i + 1]) * 256.0 + b[i + 2];
        const double y = (b[i + 3] * 256.0 + b[i + 4]) * 256.0 + b[i + 5];
        hits += std::hypot(x, y) <= 16777215.0 ? 1 : 0;  // exact here: the squares are below 2^49
    }
    ok &= r.monte_carlo_groups == groups && r.monte_carlo_hits == hits;
    const double pi = 3.14159265358979323846;
    ok &= same_double(r.monte_carlo_pi, groups == 0 ? std::nan("") : 4.0 * (static_cast<double>(hits) / groups));
    ok &= same_double(r.monte_carlo_error_percent, groups == 0 ? std::nan("") : 100.0 * (std::fabs(pi - r.monte_carlo_pi) / pi));
}

void test_figures() {
    bool ok = true;
    const std::size_t sizes[] = {0, 1, 2, 5, 6, 7, 12, 13, 100, 1000, 4095, 262143, 262144, 262145};
    for (std::size_t n : sizes) {
        for (int kind = 0; kind < 5; ++kind) {
            if (n >= 262143 && kind > 1) continue;
            const Bytes b = make_bytes(n, kind);
            for (bool bits : {false, true}) {
                for (bool fold : {false, true}) check_figures(b, bits, fold, ok);
            }
        }
    }
    CHECK(ok);
    // Known answers from ent's own output: one byte "A" prints chi-square 255.00
    // and 48.82 percent; constant data is "undefined".
    const Result a = measure(reinterpret_cast<const std::uint8_t*>("A"), 1, false);
    CHECK(a.chi_square == 255.0 && std::fabs(a.ent.chi_square_p * 100 - 48.82) < 0.005 && a.mean == 65.0);
    CHECK(a.ent.serial_correlation_undefined && std::isnan(a.serial_correlation) && std::isnan(a.monte_carlo_pi));
    // Seven-bit text never leaves the quarter circle: pi estimate exactly 4.
    const Bytes text(600, 'q');
    CHECK(measure(text.data(), text.size(), false).monte_carlo_pi == 4.0);
    // A state that starts inside an input cannot be finished on its own.
    bool threw = false;
    try {
        finish(measure_at(text, 6, 600, 6, false), false);
    } catch (const std::invalid_argument&) {
        threw = true;
    }
    CHECK(threw);
}

// The same bytes measured through states built in any way give the same figures,
// however the pool splits the pass.
void test_figures_independent_of_splitting() {
    const Bytes b = make_bytes(3 * 262144 + 5, 0);
    const Result whole = measure(b.data(), b.size(), false);
    State pieces = measure_at(b, 0, 100001, 0, false);
    append(pieces, measure_at(b, 100001, 100004, 100001, false));
    append(pieces, measure_at(b, 100004, b.size(), 100004, false));
    const Result merged = finish(pieces, false);
    CHECK(same_double(whole.serial_correlation, merged.serial_correlation) && same_double(whole.chi_square, merged.chi_square) &&
          same_double(whole.monte_carlo_pi, merged.monte_carlo_pi) && whole.histogram == merged.histogram);
}

// ---------------------------------------------------------------- huge counts

// A state moved to another offset of the same residue mod 6: the state the
// same bytes would have there.
State moved(State s, std::uint64_t start) {
    s.start = start;
    return s;
}

void test_huge_counts() {
    // 1536 bytes (6 x 0..255, a whole number of groups) repeated 2^40 times by
    // doubling: counts past 2^32, pair sums past 2^64.
    Bytes block;
    for (int k = 0; k < 6; ++k) {
        for (int v = 0; v < 256; ++v) block.push_back(static_cast<std::uint8_t>((v * 37 + k) & 0xFF));
    }
    const State unit = measure_state(block.data(), block.size());
    State s = unit;
    bool sums_ok = true;
    for (int doubling = 1; doubling <= 40; ++doubling) {
        s = merge(s, moved(s, s.size));
        const std::uint64_t reps = std::uint64_t{1} << doubling;
        sums_ok &= s.size == reps * 1536 && s.histogram[17] == reps * 6 && s.mc_groups == reps * 256 &&
                   s.mc_hits == reps * unit.mc_hits &&
                   s.adjacent_products == UInt128{reps} * unit.adjacent_products + UInt128{reps - 1} * (unit.last * unit.first) &&
                   s.seam_bit_pairs == reps * unit.seam_bit_pairs + (reps - 1) * ((unit.last & 1) & (unit.first >> 7));
    }
    CHECK(sums_ok);
    CHECK(s.adjacent_products > std::numeric_limits<std::uint64_t>::max());
    CHECK(same_state(deserialize(serialize(s)), s));

    const Result r = finish(s, false);
    CHECK(r.size == s.size && r.histogram[200] == s.size / 256);
    CHECK(r.shannon_entropy == 8.0 && r.chi_square == 0.0 && r.chi_square_p == 1.0 && r.mean == 127.5);
    CHECK(r.monte_carlo_pi == 4.0 * (static_cast<double>(unit.mc_hits) / 256));
    // The correlation from the exact sums, rounded once each, in ent's order.
    const double n = static_cast<double>(s.size);
    UInt128 sum = 0, squares = 0;
    for (std::uint64_t v = 0; v < 256; ++v) {
        sum += UInt128{s.histogram[v]} * v;
        squares += UInt128{s.histogram[v]} * v * v;
    }
    const double t1 = static_cast<double>(s.adjacent_products + UInt128{s.last} * s.first);
    const double t2 = static_cast<double>(sum) * static_cast<double>(sum);
    CHECK(same_double(r.serial_correlation, (n * t1 - t2) / (n * static_cast<double>(squares) - t2)));
    const Result bits = finish(s, true);
    CHECK(bits.size == s.size * 8 && bits.histogram[1] == s.size * 4 && bits.shannon_entropy == 1.0);

    State giant;
    giant.size = std::uint64_t{1} << 61;
    giant.histogram[0] = giant.size;
    bool threw = false;
    try {
        finish(giant, true);
    } catch (const std::invalid_argument&) {
        threw = true;
    }
    CHECK(threw);
    CHECK(finish(giant, false).chi_square_p == 0.0);
}

// ---------------------------------------------------------------- probabilities

void test_survival() {
    // Known answers: the regularised upper incomplete gamma function at 30
    // digits (mpmath), against which scipy.stats.chi2.sf agrees to about 1e-13.
    struct Known {
        unsigned df;
        double chi2, q;
    } known[] = {
        {255, 1e-300, 1.0}, {255, 1.0, 1.0}, {255, 200.0, 0.99542544454195189527}, {255, 255.0, 0.48822252177040634337},
        {255, 227.45, 0.89196808017430863922}, {255, 300.0, 0.027727522053904829889},
        {255, 600.0, 7.5319737522786718158e-30}, {255, 1200.0, 3.4309217929887430079e-122}, {255, 2500.0, 0.0},
        {1, 1e-300, 1.0}, {1, 1e-10, 0.99999202115439210433}, {1, 0.5, 0.47950012218695346232},
        {1, 3.841458820694124, 0.050000000000000057435}, {1, 50.0, 1.5374597944280348502e-12},
        {1, 700.0, 2.9902269751246203369e-154}, {1, 1400.0, 2.101014516264217495e-306},
    };
    for (const Known& k : known) {
        const double q = chi_square_survival(k.df, k.chi2);
        const bool ok = k.q == 0.0 ? q == 0.0 : std::fabs(q - k.q) <= 1e-14 * k.q;
        if (!ok) std::fprintf(stderr, "Q(df %u, %g) = %.17g, expected %.17g\n", k.df, k.chi2, q, k.q);
        CHECK(ok);
    }
    // Degrees of freedom in the tens of thousands (the IID track's independence
    // test over 8-bit samples): the closed forms' e^-x underflows, the answer
    // does not. Where both ways compute, they agree; beyond, the logarithmic way
    // keeps the known shape: a half near the mean, the tails symmetric in z.
    for (unsigned df : {2000u, 20001u, 21000u}) {
        for (double z : {-6.0, -2.0, -0.3, 0.0, 0.7, 3.0, 8.0}) {
            const double chi2 = df + z * std::sqrt(2.0 * df);
            const double closed = chi_square_survival(df, chi2);
            const double logs = static_cast<double>(upper_gamma_by_logs(df / 2.0L, chi2 / 2.0L));
            const bool ok = std::fabs(closed - logs) <= 1e-12 * std::max(closed, 1e-300);
            if (!ok) std::fprintf(stderr, "Q(df %u, %g): closed form %.17g, logarithms %.17g\n", df, chi2, closed, logs);
            CHECK(ok);
        }
    }
    for (unsigned df : {65280u, 300000u}) {
        const double mean_side = chi_square_survival(df, df - 2.0 / 3.0);  // the median, to O(1/df)
        CHECK(std::fabs(mean_side - 0.5) < 0.01);
        const double low = chi_square_survival(df, df - 4.0 * std::sqrt(2.0 * df));
        const double high = chi_square_survival(df, df + 4.0 * std::sqrt(2.0 * df));
        CHECK(low > 0.9999 && low < 1.0 && high > 1e-6 && high < 1e-4);
    }
    CHECK(chi_square_survival(255, 0.0) == 1.0 && chi_square_survival(1, -3.0) == 1.0);
    CHECK(chi_square_survival(255, std::numeric_limits<double>::infinity()) == 0.0);
    CHECK(std::isnan(chi_square_survival(255, std::nan(""))));

    // Neighbouring degrees of freedom differ by one term: Q(a + 1, x) - Q(a, x)
    // = x^a e^-x / Gamma(a + 1), whatever the parity.
    bool recurrence = true, ent_close = true, normal_close = true;
    for (int i = 0; i < 2000; ++i) {
        const double chi2 = std::ldexp(static_cast<double>(rng() % 100000) / 100000, static_cast<int>(rng() % 12));
        const unsigned df = 1 + static_cast<unsigned>(rng() % 300);
        const long double x = chi2 / 2.0L, a = df / 2.0L;
        const double term = static_cast<double>(std::exp(a * std::log(x) - x - std::lgamma(a + 1)));
        const double lhs = chi_square_survival(df + 2, chi2) - chi_square_survival(df, chi2);
        recurrence &= std::fabs(lhs - term) <= 1e-13 * std::max(term, chi_square_survival(df + 2, chi2)) + 1e-300;
        // ent's series stays within about 1e-8 of the exact value (published: 7.5e-9 at df 255).
        for (unsigned d : {1u, 255u}) ent_close &= std::fabs(ent_chi_square_survival(d, chi2) - chi_square_survival(d, chi2)) < 1e-8;
        const double z = (static_cast<double>(rng() % 2000000) / 100000) - 10;
        normal_close &= std::fabs(ibbetson_normal_cdf(z) - 0.5 * std::erfc(-z / std::sqrt(2.0))) < 2e-9;
    }
    CHECK(recurrence);
    CHECK(ent_close);
    CHECK(normal_close);
    CHECK(ent_chi_square_survival(255, 0.0) == 1.0 && ent_chi_square_survival(255, -1.0) == 1.0);

    // Known answers from /usr/bin/ent: inputs (found among 800,000 random
    // histograms) whose chi-square ent prints with another percent than the
    // exact tail would give. {df, chi-square, ent's percent, the exact one's}.
    struct Printed {
        unsigned df;
        double chi2;
        const char* ent;
        const char* exact;
    } printed[] = {
        {1, 4.661290322580645, "3.09", "3.08"},
        {255, 230.26042891183462, "86.50", "86.51"},
        {255, 238.6581249040969, "76.11", "76.12"},
        {255, 238.90117579167583, "75.76", "75.77"},
        {255, 242.030110305078, "71.04", "71.05"},
        {255, 244.7516073388738, "66.65", "66.66"},
        {255, 246.92106873342857, "63.00", "63.01"},
        {255, 248.50547509713917, "60.27", "60.28"},
        {255, 248.5054750971392, "60.27", "60.28"},
        {255, 252.5357798165139, "53.18", "53.19"},
        {255, 257.40459710910056, "44.60", "44.61"},
        {255, 273.22124936858035, "20.67", "20.68"},
        {255, 284.5376402584157, "9.85", "9.86"},
    };
    auto percent = [](double q) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%1.2f", q * 100);
        return std::string(buf);
    };
    for (const Printed& p : printed) {
        CHECK(percent(ent_chi_square_survival(p.df, p.chi2)) == p.ent);
        CHECK(percent(chi_square_survival(p.df, p.chi2)) == p.exact);
    }
    CHECK(ibbetson_normal_cdf(0.0) == 0.5 && ibbetson_normal_cdf(6.0) == 1.0 && ibbetson_normal_cdf(-6.5) == 0.0);
    bool threw = false;
    try {
        chi_square_survival(0, 1.0);
    } catch (const std::invalid_argument&) {
        threw = true;
    }
    CHECK(threw);
}

void test_bit_expectation() {
    // By hand: one bit always scores 0; two bits score 1 half the time; three
    // bits score h(1/3) three quarters of the time.
    CHECK(expected_random_bit_entropy(1) == 0.0);
    CHECK(std::fabs(expected_random_bit_entropy(2) - 0.5) < 1e-15);
    const double h3 = -(std::log2(1.0 / 3) / 3 + std::log2(2.0 / 3) * 2 / 3);
    CHECK(std::fabs(expected_random_bit_entropy(3) - 0.75 * h3) < 1e-15);
    // The series takes over from the sum where both agree to the last bits.
    bool agree = true;
    for (std::uint64_t n = BIT_EXPECTATION_SERIES_FROM - 64; n < BIT_EXPECTATION_SERIES_FROM + 64; n += 8) {
        agree &= std::fabs(expected_random_bit_entropy_by_sum(n) - expected_random_bit_entropy_by_series(n)) < 3e-16;
    }
    CHECK(agree);
    // And the sum itself is increasing towards 1.
    double previous = 0;
    bool increasing = true;
    for (std::uint64_t n = 2; n < 300; ++n) {
        const double e = expected_random_bit_entropy(n);
        increasing &= e > previous && e < 1.0;
        previous = e;
    }
    CHECK(increasing);
}

// ---------------------------------------------------------------- the profile

std::vector<std::uint64_t> naive_starts(std::uint64_t size, std::uint64_t window, std::uint64_t step) {
    std::vector<std::uint64_t> starts;
    if (size == 0) return starts;
    if (size <= window) return {0};
    for (std::uint64_t s = 0; s + window <= size; s += step) starts.push_back(s);
    if (starts.back() + window < size) starts.push_back(size - window);
    return starts;
}

bool profile_matches(const Bytes& b, std::size_t window, std::size_t step, WindowMeasure measure) {
    const Profile p = entropy_profile(b.data(), b.size(), window, step, measure);
    if (p.offsets != naive_starts(b.size(), window, step) || p.values.size() != p.offsets.size()) return false;
    for (std::size_t w = 0; w < p.offsets.size(); ++w) {
        const std::uint8_t* at = b.data() + p.offsets[w];
        const std::size_t len = std::min(window, b.size());
        const double alone = measure == WindowMeasure::metric
                                 ? veltrane::shannon_entropy::measure_metric_entropy(at, len)
                                 : veltrane::shannon_entropy::measure_normalized_metric_entropy(at, len);
        if (!same_double(alone, p.values[w])) {
            std::fprintf(stderr, "profile: window %zu at %llu of %zu (W %zu, S %zu): %.17g, alone %.17g\n", w,
                         static_cast<unsigned long long>(p.offsets[w]), b.size(), window, step, p.values[w], alone);
            return false;
        }
    }
    return true;
}

void test_profile() {
    bool ok = true;
    for (int round = 0; round < 150; ++round) {
        const std::size_t window = 1 + below(round % 3 == 0 ? 40 : 3000);
        std::size_t step;
        switch (round % 5) {
            case 0: step = window; break;
            case 1: step = window + 1 + below(window); break;
            case 2: step = 1; break;
            default: step = 1 + below(window); break;
        }
        std::size_t n;
        switch (round % 4) {
            case 0: n = below(window + 1); break;  // at most one window, sometimes empty
            case 1: n = window + below(3); break;
            default: n = below(8 * window) + window; break;
        }
        const Bytes b = make_bytes(n, round);
        for (WindowMeasure m : {WindowMeasure::metric, WindowMeasure::normalized}) ok &= profile_matches(b, window, step, m);
    }
    // Enough windows for the pool, the term table and fresh counts at range starts.
    const Bytes big = make_bytes(700001, 0);
    ok &= profile_matches(big, 4096, 64, WindowMeasure::metric);
    ok &= profile_matches(big, 4096, 64, WindowMeasure::normalized);
    ok &= profile_matches(big, 1500, 1700, WindowMeasure::metric);
    ok &= profile_matches(make_bytes(700001, 3), 300, 7, WindowMeasure::normalized);
    CHECK(ok);
    for (auto [window, step] : {std::pair<std::size_t, std::size_t>{0, 1}, {1, 0}}) {
        std::string message;
        try {
            entropy_profile(big.data(), big.size(), window, step, WindowMeasure::metric);
        } catch (const std::invalid_argument& e) {
            message = e.what();
        }
        CHECK(message == "window and step must be positive");
    }
}

}  // namespace

int run_battery_tests(bool /*long_form*/) {
    test_kernels();
    test_one_pass_kernels();
    test_state_against_naive();
    test_case_fold_table();
    test_merge_at_any_split();
    test_merge_rejects_strangers();
    test_serialize();
    test_figures();
    test_figures_independent_of_splitting();
    test_huge_counts();
    test_survival();
    test_bit_expectation();
    test_profile();
    std::printf("battery tests: %d passed, %d failed\n", passed, failed);
    return failed;
}
