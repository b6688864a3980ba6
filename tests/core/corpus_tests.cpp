// The corpus deduplication against the byte-by-byte model of its definition:
// every short corpus over a tiny alphabet (documents split by '|'), random
// corpora of multi-byte characters and lines with planted shared spans, both
// keep rules, both ways of the later passes; the fixed point; and the windows
// the suffix array finds against a hash map of every window on a corpus large
// enough to be split among the workers.
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "check.hpp"
#include "suites.hpp"

#include "corpus/dedup.hpp"
#include "reference_dedup.hpp"
#include "test_corpus.hpp"

namespace {

namespace corpus = veltrane::corpus;
using veltrane::reference::dedup_model;
using veltrane::testing::Corpus;
using veltrane::testing::show;

int passed = 0, failed = 0;

std::vector<std::string> split_documents(const std::string& s) {
    std::vector<std::string> docs(1);
    for (char c : s) {
        if (c == '|') {
            docs.emplace_back();
        } else {
            docs.back() += c;
        }
    }
    return docs;
}

// The engine's ranges as the positions that stay, document by document.
std::vector<std::vector<std::uint64_t>> kept_positions(const Corpus& c, const corpus::DedupResult& r) {
    std::vector<std::vector<bool>> gone(c.documents.size());
    for (std::size_t d = 0; d < c.documents.size(); ++d) gone[d].assign(c.documents[d].size(), false);
    for (std::size_t i = 0; i < r.documents.size(); ++i) {
        for (std::uint64_t p = r.starts[i]; p < r.ends[i]; ++p) gone[r.documents[i]][p] = true;
    }
    std::vector<std::vector<std::uint64_t>> kept(c.documents.size());
    for (std::size_t d = 0; d < c.documents.size(); ++d) {
        for (std::uint64_t p = 0; p < c.documents[d].size(); ++p) {
            if (!gone[d][p]) kept[d].push_back(p);
        }
    }
    return kept;
}

// Ranges ascending, disjoint, non-empty, inside their documents.
bool well_formed(const Corpus& c, const corpus::DedupResult& r) {
    for (std::size_t i = 0; i < r.documents.size(); ++i) {
        if (r.documents[i] >= c.documents.size() || r.starts[i] >= r.ends[i] ||
            r.ends[i] > c.documents[r.documents[i]].size()) {
            return false;
        }
        if (i > 0 && (r.documents[i] < r.documents[i - 1] ||
                      (r.documents[i] == r.documents[i - 1] && r.starts[i] <= r.ends[i - 1]))) {
            return false;
        }
    }
    return true;
}

// One corpus, every rule and way, against the model; returns false (and says
// why) at the first difference.
bool agrees(const std::vector<std::string>& docs, std::uint64_t length) {
    const Corpus c(docs);
    for (bool keep_first : {true, false}) {
        for (bool lines : {false, true}) {
            const auto model = dedup_model(docs, length, keep_first, lines);
            for (bool always_near : {false, true}) {
                corpus::DedupOptions options{length, keep_first ? corpus::Keep::first : corpus::Keep::none, lines};
                const auto result = corpus::detail::find_duplicate_spans(c.text(), options, always_near);
                if (!well_formed(c, result) || kept_positions(c, result) != model.kept ||
                    result.passes != model.passes) {
                    std::fprintf(stderr, "dedup differs on %s, length %llu, keep %s, lines %d, near %d: passes %u vs %u\n",
                                 show(docs).c_str(), static_cast<unsigned long long>(length),
                                 keep_first ? "first" : "none", lines, always_near, result.passes, model.passes);
                    return false;
                }
            }
        }
    }
    return true;
}

void every_short_corpus(bool long_form) {
    const std::string letters = "ab\n|";
    const std::size_t longest = long_form ? 9 : 7;
    bool ok = true;
    std::string s;
    for (std::size_t size = 0; size <= longest && ok; ++size) {
        std::vector<std::size_t> digits(size, 0);
        for (bool more = true; more && ok;) {
            s.clear();
            for (std::size_t k : digits) s += letters[k];
            const auto docs = split_documents(s);
            for (std::uint64_t length = 1; length <= 3 && ok; ++length) ok = agrees(docs, length);
            more = false;
            for (std::size_t i = 0; i < size && !more; ++i) {
                if (++digits[i] < letters.size()) {
                    more = true;
                } else {
                    digits[i] = 0;
                }
            }
        }
    }
    CHECK(ok);
}

// Documents of characters of one to three bytes and line breaks, with spans
// planted in several documents, at their edges too; empty documents and
// documents shorter than the window among them.
void random_corpora(bool long_form) {
    // é, ©, ₩ and € share continuation bytes under different leads, so a
    // repeat can begin or end inside a character.
    const std::vector<std::string> characters = {"a",        "\xc3\xa9",     "b",  "\xc2\xa9",
                                                 "\n",       "\xe2\x82\xa9", "c",  "\xe2\x82\xac"};
    std::mt19937_64 random(2024);
    bool ok = true;
    const int cases = long_form ? 6000 : 1200;
    for (int t = 0; t < cases && ok; ++t) {
        const auto word = [&](std::size_t chars) {
            std::string w;
            const std::size_t letters = 1 + random() % characters.size();
            for (std::size_t i = 0; i < chars; ++i) w += characters[random() % letters];
            return w;
        };
        std::vector<std::string> spans;
        for (int k = 0; k < 3; ++k) spans.push_back(word(2 + random() % 10));
        std::vector<std::string> docs(random() % 6);
        for (std::string& d : docs) {
            const std::size_t parts = random() % 5;
            for (std::size_t i = 0; i < parts; ++i) d += random() % 2 ? spans[random() % spans.size()] : word(random() % 6);
        }
        const std::uint64_t length = 1 + random() % 12;
        ok = agrees(docs, length);
    }
    CHECK(ok);
}

// Deduplicating the output again removes nothing, and what stays is a
// subsequence of each document that keeps its first window under Keep::first.
void fixed_point() {
    std::mt19937_64 random(7);
    bool ok = true;
    for (int t = 0; t < 300 && ok; ++t) {
        std::vector<std::string> docs(1 + random() % 5);
        const std::string shared = "shared \xc3\xa9 line\n";
        for (std::string& d : docs) {
            for (int i = random() % 8; i-- > 0;) d += random() % 3 ? shared : std::string(1 + random() % 4, 'x') + "\n";
        }
        const Corpus c(docs);
        for (bool lines : {false, true}) {
            for (corpus::Keep keep : {corpus::Keep::first, corpus::Keep::none}) {
                const corpus::DedupOptions options{4 + random() % 20, keep, lines};
                const auto first = corpus::find_duplicate_spans(c.text(), options);
                const auto kept = kept_positions(c, first);
                std::vector<std::string> out(docs.size());
                for (std::size_t d = 0; d < docs.size(); ++d) {
                    for (std::uint64_t p : kept[d]) out[d] += docs[d][p];
                }
                const Corpus again(out);
                const auto second = corpus::find_duplicate_spans(again.text(), options);
                ok = second.documents.empty() && second.passes == 1;
            }
        }
    }
    CHECK(ok);
}

// The windows the suffix array finds, and those hashing finds, equal those a
// map of every window finds, on a corpus of a few megabytes (split among the
// workers) with long planted copies.
void sorted_windows_against_a_map() {
    std::mt19937_64 random(99);
    std::vector<std::string> docs;
    std::string block;
    for (int i = 0; i < 5000; ++i) block += static_cast<char>('a' + random() % 3);
    for (int d = 0; d < 300; ++d) {
        std::string doc;
        const std::size_t size = random() % 20000;
        while (doc.size() < size) {
            if (random() % 4 == 0) {
                const std::size_t at = random() % 4000;
                doc += block.substr(at, 200 + random() % 800);
            } else {
                doc += static_cast<char>('a' + random() % 3);
            }
        }
        docs.push_back(doc);
    }
    const Corpus c(docs);
    for (std::uint64_t length : {8u, 40u}) {
        for (corpus::Keep keep : {corpus::Keep::first, corpus::Keep::none}) {
            const corpus::Bitset sorted = corpus::duplicate_windows_sorted(c.text(), length, keep);
            const corpus::Bitset hashed = corpus::duplicate_windows_hashed(c.text(), length, keep);
            std::unordered_map<std::string_view, std::pair<std::uint64_t, std::uint64_t>> seen;  // first, count
            const std::string_view all(c.bytes);
            for (std::size_t d = 0; d < docs.size(); ++d) {
                for (std::uint64_t p = c.offsets[d]; p + length <= c.offsets[d + 1]; ++p) {
                    auto [it, fresh] = seen.try_emplace(all.substr(p, length), p, 0);
                    ++it->second.second;
                }
            }
            bool ok = true;
            for (std::size_t d = 0; d < docs.size() && ok; ++d) {
                for (std::uint64_t p = c.offsets[d]; p + length <= c.offsets[d + 1] && ok; ++p) {
                    const auto& [first, count] = seen.at(all.substr(p, length));
                    const bool expected = keep == corpus::Keep::first ? first != p : count >= 2;
                    ok = sorted.test(p) == expected && hashed.test(p) == expected;
                }
            }
            CHECK(ok);
        }
    }
}

}  // namespace

int run_corpus_tests(bool long_form) {
    every_short_corpus(long_form);
    random_corpora(long_form);
    fixed_point();
    sorted_windows_against_a_map();
    std::printf("corpus: %d passed, %d failed\n", passed, failed);
    return failed;
}
