// The deduplication on a cluster against the one-machine engine: the whole
// distributed run simulated in one process (cluster_simulation.hpp) on random
// corpora whose shared spans cross the shards' borders every way (a span in
// the first and the last shard, one in every shard, a document larger than a
// shard, runs of one byte, a boilerplate line in every document), for random
// shard sizes and partition counts, both keep rules, whole lines or not, and
// window lengths with anchors and without; with a base that makes windows
// collide first. What the design promises to cost (the inside of copies
// decided run by run, a run of one byte one record per shard); a shard's text
// made again from its pieces, against a model; and the exchanges' guards.
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "check.hpp"
#include "suites.hpp"

#include "cluster_simulation.hpp"
#include "corpus/dedup.hpp"
#include "corpus/shard_claims.hpp"
#include "corpus/shard_text.hpp"
#include "corpus/window_hash.hpp"
#include "test_corpus.hpp"

namespace {

namespace corpus = veltrane::corpus;
namespace shard = veltrane::corpus::shard;
using veltrane::testing::Corpus;

int passed = 0, failed = 0;

std::string random_text(std::mt19937_64& random, std::size_t size, std::size_t letters) {
    static const std::vector<std::string> pieces = {"a", "b", " ", "\n", "\xc3\xa9", "c", "\xe2\x82\xac", "d"};
    std::string s;
    while (s.size() < size) s += pieces[random() % std::min(letters, pieces.size())];
    return s;
}

// Documents with spans planted where shard borders fall every way.
std::vector<std::string> planted_corpus(std::mt19937_64& random, std::uint64_t length) {
    const std::size_t letters = 2 + random() % 7;
    std::vector<std::string> docs(1 + random() % 12);
    for (std::string& d : docs) d = random_text(random, random() % (4 * length), letters);
    const std::string span = random_text(random, length + random() % (2 * length), letters);
    const std::string everywhere = random_text(random, length + random() % length, letters);
    const std::string boiler = "boilerplate line, the same in every document " + random_text(random, length / 2, 3) + "\n";
    const bool with_boiler = random() % 3 == 0, with_everywhere = random() % 2 == 0;
    auto insert = [&](std::string& d, const std::string& what) { d.insert(random() % (d.size() + 1), what); };
    insert(docs.front(), span);
    insert(docs.back(), span);
    for (std::string& d : docs) {
        if (with_everywhere) insert(d, everywhere);
        if (with_boiler) d = boiler + d;
        if (random() % 4 == 0) insert(d, std::string(random() % (3 * length), "ax\n"[random() % 3]));
    }
    if (random() % 3 == 0) {  // a document larger than any shard, holding copies of the others' spans
        std::string big = random_text(random, 6 * length, letters) + span + everywhere + span;
        docs.insert(docs.begin() + static_cast<std::ptrdiff_t>(random() % (docs.size() + 1)), big);
    }
    if (random() % 5 == 0) docs.insert(docs.begin() + static_cast<std::ptrdiff_t>(random() % (docs.size() + 1)), "");
    return docs;
}

// Shards of whole documents of at most `size` bytes, a larger document alone.
std::vector<std::size_t> shard_firsts(const Corpus& c, std::uint64_t size) {
    std::vector<std::size_t> firsts{0};
    std::uint64_t held = 0;
    for (std::size_t d = 0; d < c.documents.size(); ++d) {
        const std::uint64_t doc = c.documents[d].size();
        if (held > 0 && held + doc > size) {
            firsts.push_back(d);
            held = 0;
        }
        held += doc;
    }
    return firsts;
}

bool same(const corpus::DedupResult& a, const corpus::DedupResult& b) {
    return a.documents == b.documents && a.starts == b.starts && a.ends == b.ends && a.passes == b.passes &&
           a.removed_bytes == b.removed_bytes;
}

// The simulation equals the engine; `degenerate` makes the first base of every
// pass 1, so that windows with the same bytes in any order collide.
void against_the_engine(bool long_form, bool degenerate, unsigned& collisions) {
    std::mt19937_64 random(degenerate ? 31 : 26);
    const int cases = long_form ? 3000 : 400;
    bool ok = true;
    for (int t = 0; t < cases && ok; ++t) {
        const std::uint64_t length = random() % 3 == 0 ? 1 + random() % 31 : 32 + random() % 60;
        const auto docs = planted_corpus(random, length);
        const Corpus c(docs);
        const std::uint64_t shard_size = 1 + random() % (c.bytes.size() / 2 + 1);
        const std::size_t partitions = 1 + random() % 7;
        const auto firsts = shard_firsts(c, shard_size);
        for (corpus::Keep keep : {corpus::Keep::first, corpus::Keep::none}) {
            for (bool lines : {false, true}) {
                const corpus::DedupOptions options{length, keep, lines};
                bool fresh_pass = true;
                unsigned calls = 0;
                const auto base = [&]() -> std::uint64_t {
                    ++calls;
                    if (degenerate && fresh_pass) {
                        fresh_pass = false;
                        return 1;
                    }
                    fresh_pass = true;
                    return corpus::WindowHash::random_base();
                };
                const auto simulated = veltrane::testing::simulate_cluster(c.text(), firsts, partitions, options, base);
                collisions += simulated.collisions;
                const auto expected = corpus::find_duplicate_spans(c.text(), options);
                if (!same(simulated.result, expected) || !simulated.texts_agree) {
                    std::fprintf(stderr,
                                 "cluster dedup differs: case %d, %zu documents, %zu shards, %zu partitions, length "
                                 "%llu, keep %s, lines %d: %zu ranges, %u passes vs %zu, %u; texts agree %d\n",
                                 t, docs.size(), firsts.size(), partitions, static_cast<unsigned long long>(length),
                                 keep == corpus::Keep::first ? "first" : "none", lines,
                                 simulated.result.documents.size(), simulated.result.passes,
                                 expected.documents.size(), expected.passes, simulated.texts_agree);
                    ok = false;
                }
            }
        }
    }
    CHECK(ok);
}

// The positions of shards, empty ones among them; and runs that do not hold
// what the shard holds, or lie outside it.
void exchange_guards() {
    const std::vector<std::uint64_t> positions = {0, 10, 10, 25};
    CHECK(shard::owner_of(positions, 0) == 0);
    CHECK(shard::owner_of(positions, 9) == 0);
    CHECK(shard::owner_of(positions, 10) == 2);  // the empty shard 1 holds nothing
    CHECK(shard::owner_of(positions, 24) == 2);
    CHECK(shard::owner_of(positions, 1000) == 3);

    const Corpus held({"xxhello worldxx", "hello world"});
    const Corpus claiming({"hello world!"});
    const std::uint64_t length = 5;
    // Windows 2..8 of the first shard equal windows 0..6 of the claiming shard, placed at 100: claimed
    // as a run of three, two windows alone and a run of three overlapping the first, in any order.
    const std::vector<std::uint64_t> claims = {6, 104, 1, 2, 100, 3, 5, 103, 1, 3, 101, 3, 6, 104, 3};
    const std::vector<std::uint64_t> shard_positions = {0, 100};
    const std::vector<std::span<const std::uint64_t>> asked = {claims};
    const auto served = shard::serve_claims(held.text(), 0, length, asked, shard_positions);
    CHECK(served.size() == 1 && served[0].first == 1);
    CHECK(served[0].second.size() == 3 + 2);  // one run: 7 windows, 11 bytes in two words
    std::vector<std::span<const std::uint64_t>> runs = {served[0].second};
    corpus::Bitset duplicates(claiming.bytes.size());
    CHECK(shard::verify_runs(claiming.text(), 100, length, runs, duplicates));
    unsigned set = 0;
    duplicates.for_each([&](std::uint64_t p) { set += p < 7; });
    CHECK(set == 7);
    const Corpus other({"hello worle!"});
    corpus::Bitset none(other.bytes.size());
    CHECK(!shard::verify_runs(other.text(), 100, length, runs, none));
    bool thrown = false;
    try {
        shard::verify_runs(claiming.text(), 101, length, runs, duplicates);  // runs past the shard's end
    } catch (const std::invalid_argument&) {
        thrown = true;
    }
    CHECK(thrown);
    thrown = false;
    const std::vector<std::uint64_t> outside = {22, 100, 5};  // its last window would end past the shard
    const std::vector<std::span<const std::uint64_t>> asked_outside = {outside};
    try {
        shard::serve_claims(held.text(), 0, length, asked_outside, shard_positions);
    } catch (const std::invalid_argument&) {
        thrown = true;
    }
    CHECK(thrown);
}

}  // namespace

int run_cluster_dedup_tests(bool long_form) {
    unsigned random_collisions = 0, forced_collisions = 0;
    against_the_engine(long_form, false, random_collisions);
    against_the_engine(long_form, true, forced_collisions);
    CHECK(forced_collisions > 0);  // the degenerate base did make windows collide
    exchange_guards();
    std::printf("cluster_dedup: %d passed, %d failed (%u passes run again after a forced collision)\n", passed,
                failed, forced_collisions);
    return failed;
}
