// What the documents of a corpus share: against the repeats model run on the
// documents kept apart by separators, on every way the search can go (sampled
// regions or whole documents, bytes or wide symbols, one search or several),
// and the sampled regions against a map of every repeated window.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "check.hpp"
#include "suites.hpp"

#include "corpus/repeat_regions.hpp"
#include "corpus/shared_repeats.hpp"
#include "reference_repeats.hpp"
#include "test_corpus.hpp"

namespace {

namespace corpus = veltrane::corpus;
using veltrane::testing::Corpus;
using veltrane::testing::show;

int passed = 0, failed = 0;

// What documents share, against the repeats model run on the documents with
// a symbol of each one's own after it (a fragment that occurs twice there is
// one that occurs twice without crossing a boundary), occurrences placed in
// their documents and lines counted here.
void shared_repeats_against_the_model(bool long_form) {
    std::mt19937_64 random(31);
    bool ok = true;
    const int cases = long_form ? 3000 : 600;
    for (int t = 0; t < cases && ok; ++t) {
        std::vector<std::string> docs(1 + random() % 4);
        const std::string letters = random() % 2 ? "ab\n" : "abc";
        for (std::string& d : docs) {
            for (std::size_t i = random() % 9; i-- > 0;) d += letters[random() % letters.size()];
        }
        const Corpus c(docs);
        std::vector<std::uint32_t> separated;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> placed;  // separated position -> (document, start)
        for (std::size_t d = 0; d < docs.size(); ++d) {
            for (std::size_t i = 0; i < docs[d].size(); ++i) {
                separated.push_back(static_cast<unsigned char>(docs[d][i]));
                placed.emplace_back(d, i);
            }
            separated.push_back(1000 + d);
            placed.emplace_back(d, docs[d].size());
        }
        const veltrane::reference::RepeatsModel<std::uint32_t> model{std::span<const std::uint32_t>(separated)};
        veltrane::strings::repeats::Options options;
        options.top = std::nullopt;
        options.min_length = 1 + random() % 3;
        options.min_count = 2 + random() % 2;
        options.maximal = random() % 2;
        options.exclude_periodic = random() % 2;
        options.non_overlap = random() % 2;
        const auto expected = model.repeats(options);
        const auto shared = corpus::detail::find_shared_repeats(c.text(), options, {true, t % 2 == 0, std::size_t{1} + t % 3});
        ok = shared.found.size() == expected.size();
        for (std::size_t f = 0; f < expected.size() && ok; ++f) {
            const auto& e = expected[f];
            ok = shared.found.lengths[f] == e.length && shared.found.counts[f] == e.count &&
                 shared.found.offsets[f + 1] - shared.found.offsets[f] == e.starts.size();
            std::set<std::uint64_t> touched;
            for (std::size_t k = 0; k < e.starts.size() && ok; ++k) {
                const std::uint64_t i = shared.found.offsets[f] + k;
                const auto [document, start] = placed[e.starts[k]];
                const std::string& doc = docs[document];
                const auto line_at = [&](std::uint64_t p) {
                    return 1 + static_cast<std::uint64_t>(std::count(doc.begin(), doc.begin() + p, '\n'));
                };
                touched.insert(document);
                ok = shared.documents[i] == document && shared.starts[i] == start &&
                     shared.found.starts[i] == c.offsets[document] + start && shared.lines[i] == line_at(start) &&
                     shared.end_lines[i] == line_at(start + e.length - 1);
            }
            ok = ok && shared.documents_touched[f] == touched.size();
        }
        if (!ok) std::fprintf(stderr, "shared repeats differ on %s\n", show(docs).c_str());
    }
    CHECK(ok);
}

// Every way the search can go gives one answer, column for column, on
// corpora of many documents sharing long spans: the sampled regions or the
// whole documents, bytes with a separator or wide symbols, one search or
// several side by side. The whole documents as wide symbols are the way the
// model test above checks.
void search_paths_agree(bool long_form) {
    std::mt19937_64 random(5);
    bool ok = true;
    for (int t = 0; t < (long_form ? 60 : 12) && ok; ++t) {
        std::string block;
        for (int i = 0; i < 3000; ++i) block += static_cast<char>('a' + random() % (2 + t % 5));
        std::vector<std::string> docs(2 + random() % 300);
        for (std::string& d : docs) {
            for (int k = random() % 6; k-- > 0;) {
                d += random() % 2 ? block.substr(random() % 2000, random() % 400) : std::string(random() % 9, 'z');
            }
        }
        // One long span shared three times for sure, at the edges of the first and last documents.
        docs.front() += block.substr(100, 250) + "#" + block.substr(100, 250);
        docs.back().insert(0, block.substr(100, 250));
        const Corpus c(docs);
        veltrane::strings::repeats::Options options;
        options.top = std::nullopt;
        options.min_length = t % 3 == 0 ? 3 + random() % 40 : corpus::SAMPLED_FROM + random() % 100;
        options.min_count = 2 + random() % 2;
        options.non_overlap = random() % 2;
        options.maximal = random() % 4 != 0;
        const auto wide = corpus::detail::find_shared_repeats(c.text(), options, {false, false, 1});
        ok = !wide.found.lengths.empty();
        for (const corpus::detail::Paths paths :
             {corpus::detail::Paths{false, true, 0}, corpus::detail::Paths{true, false, 1},
              corpus::detail::Paths{true, true, 1}, corpus::detail::Paths{true, true, 2 + random() % 4}}) {
            const auto other = corpus::detail::find_shared_repeats(c.text(), options, paths);
            ok = ok && wide.found.lengths == other.found.lengths && wide.found.counts == other.found.counts &&
                 wide.found.starts == other.found.starts && wide.found.firsts == other.found.firsts &&
                 wide.documents == other.documents && wide.lines == other.lines &&
                 wide.documents_touched == other.documents_touched;
        }
        if (!ok) std::fprintf(stderr, "search paths differ: case %d, min_length %llu\n", t,
                              static_cast<unsigned long long>(options.min_length));
    }
    CHECK(ok);
}

// The sampled regions hold every window of min_length bytes that occurs
// twice (so every occurrence of a longer repeat, made of such windows that
// overlap, lies in one region), each inside one document, and the links join
// the regions of every two occurrences of such a window; checked against a
// map of every window on corpora with planted copies at document edges.
void regions_hold_every_repeated_window(bool long_form) {
    std::mt19937_64 random(77);
    bool ok = true;
    for (int t = 0; t < (long_form ? 400 : 80) && ok; ++t) {
        const std::uint64_t length = corpus::SAMPLED_FROM + random() % 70;
        std::string pool;
        for (int i = 0; i < 600; ++i) pool += static_cast<char>(random() % 2 ? 'a' + random() % 3 : random() % 256);
        std::vector<std::string> docs(1 + random() % 12);
        for (std::string& d : docs) {
            for (int k = random() % 5; k-- > 0;) {
                const std::size_t from = random() % 500;
                d += random() % 3 ? pool.substr(from, length - 5 + random() % 60) : std::string(random() % 50, 'q');
            }
        }
        const Corpus c(docs);
        const corpus::RepeatRegions found = corpus::repeat_regions(c.text(), length);
        const std::vector<corpus::Region>& regions = found.regions;
        // Connected regions by repeated relabelling, as plain as it gets.
        std::vector<std::size_t> label(regions.size());
        for (std::size_t j = 0; j < label.size(); ++j) label[j] = j;
        for (bool changed = true; changed;) {
            changed = false;
            for (const auto& [a, b] : found.links) {
                const std::size_t low = std::min(label[a], label[b]);
                changed = changed || label[a] != low || label[b] != low;
                label[a] = label[b] = low;
            }
        }
        std::unordered_map<std::string_view, std::size_t> label_of;
        std::unordered_map<std::string_view, std::uint64_t> count;
        const std::string_view all(c.bytes);
        auto windows = [&](auto&& f) {
            for (std::size_t d = 0; d < docs.size(); ++d) {
                for (std::uint64_t p = c.offsets[d]; p + length <= c.offsets[d + 1]; ++p) f(d, p);
            }
        };
        windows([&](std::size_t, std::uint64_t p) { ++count[all.substr(p, length)]; });
        for (std::size_t j = 0; j < regions.size(); ++j) {
            const std::size_t d = corpus::document_of(c.offsets, regions[j].start);
            ok = ok && regions[j].start < regions[j].end && regions[j].end <= c.offsets[d + 1] &&
                 (j == 0 || regions[j - 1].end < regions[j].start ||
                  (regions[j - 1].end == regions[j].start && regions[j].start == c.offsets[d]));
        }
        windows([&](std::size_t, std::uint64_t p) {
            if (count[all.substr(p, length)] < 2) return;
            const auto after = std::upper_bound(regions.begin(), regions.end(), p,
                                                [](std::uint64_t x, const corpus::Region& r) { return x < r.start; });
            ok = ok && after != regions.begin() && std::prev(after)->end >= p + length;
            if (!ok) return;
            const std::size_t j = static_cast<std::size_t>(std::prev(after) - regions.begin());
            ok = label_of.try_emplace(all.substr(p, length), label[j]).first->second == label[j];
        });
        if (!ok) std::fprintf(stderr, "regions miss a repeated window: case %d\n", t);
    }
    CHECK(ok);
}

}  // namespace

int run_shared_repeats_tests(bool long_form) {
    shared_repeats_against_the_model(long_form);
    search_paths_agree(long_form);
    regions_hold_every_repeated_window(long_form);
    std::printf("shared_repeats: %d passed, %d failed\n", passed, failed);
    return failed;
}
