// A cluster run's shards, part by part: what the design promises to cost
// (the inside of a copy is decided run by run, never window by window; a run
// of one byte value is one record per shard), and what a shard keeps between
// steps (its text made again from its pieces, the bytes to look near as
// ranges), each against a plain model.
#include <cstdint>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "check.hpp"
#include "suites.hpp"

#include "cluster_simulation.hpp"
#include "corpus/dedup.hpp"
#include "corpus/shard_text.hpp"
#include "corpus/window_hash.hpp"
#include "test_corpus.hpp"

namespace {

namespace corpus = veltrane::corpus;
namespace shard = veltrane::corpus::shard;
using veltrane::testing::Corpus;

int passed = 0, failed = 0;

// Letters from a wide alphabet: no window of 32 bytes or more repeats by chance.
std::string unique_text(std::mt19937_64& random, std::size_t size) {
    std::string s(size, ' ');
    for (char& c : s) c = static_cast<char>('!' + random() % 90);
    return s;
}

veltrane::testing::Simulated simulated(const Corpus& c, std::vector<std::size_t> firsts, const corpus::DedupOptions& options) {
    return veltrane::testing::simulate_cluster(c.text(), firsts, 3, options, [] { return corpus::WindowHash::random_base(); });
}

// A copy of a long span in other surroundings, in another shard: only the
// windows of runs that reach past the copy's ends are decided window by
// window (a run's windows lie within w of its anchor, w = L / 2 - 7, so those
// start within L + 4w bytes of an end), however long the span; the answer is
// still the engine's.
void copies_go_run_by_run() {
    std::mt19937_64 random(90);
    for (std::uint64_t length : {32, 100, 300}) {
        const std::string span = unique_text(random, 40000);
        const Corpus c({unique_text(random, 500) + span + unique_text(random, 700),
                        unique_text(random, 900) + span + unique_text(random, 300)});
        for (corpus::Keep keep : {corpus::Keep::first, corpus::Keep::none}) {
            const corpus::DedupOptions options{length, keep, false};
            const auto run = simulated(c, {0, 1}, options);
            const auto expected = corpus::find_duplicate_spans(c.text(), options);
            CHECK(run.result.ends == expected.ends && run.result.passes == expected.passes);
            const std::uint64_t most_run = length / 2 - 7;
            // 2 copies x 2 ends, two words a window record.
            CHECK(run.window_records <= 2 * 2 * (length + 4 * most_run) * 2);
            CHECK(run.run_records > 0);
        }
    }
}

// Windows so long that an anchor's run can outgrow a record (more than
// MOST_RUN_WINDOWS windows) are cut into pieces: a document and its copy with
// other bytes around it, each in its shard, still give the engine's answer.
void runs_longer_than_a_record() {
    std::mt19937_64 random(5);
    const std::uint64_t length = std::uint64_t{1} << 18;
    const std::string span = unique_text(random, 3 * length / 2);
    const Corpus c({span, "xy" + span + "z", span});
    for (corpus::Keep keep : {corpus::Keep::first, corpus::Keep::none}) {
        const corpus::DedupOptions options{length, keep, false};
        const auto run = simulated(c, {0, 1, 2}, options);
        const auto expected = corpus::find_duplicate_spans(c.text(), options);
        CHECK(run.result.starts == expected.starts && run.result.ends == expected.ends &&
              run.result.passes == expected.passes && !expected.ends.empty());
    }
}

// Documents of one byte value only: every window is the same and picks its
// last gram (all grams tie), one window a run, all runs of one class, all
// second keys one key. Each shard sends one run record (three words) and one
// second key in the first pass; what is left after it is shorter than a
// window, so nothing after.
void one_byte_runs_cost_a_record_per_shard() {
    std::vector<std::string> docs;
    for (std::size_t size : {5000, 12000, 800, 20000, 3000, 9000}) docs.push_back(std::string(size, 'a'));
    const Corpus c(docs);
    for (corpus::Keep keep : {corpus::Keep::first, corpus::Keep::none}) {
        const corpus::DedupOptions options{100, keep, false};
        const auto run = simulated(c, {0, 2, 3, 5}, options);
        const auto expected = corpus::find_duplicate_spans(c.text(), options);
        CHECK(run.result.ends == expected.ends && run.result.passes == expected.passes);
        CHECK(run.run_records == 4 * (3 + 1));
        CHECK(run.window_records == 0);
    }
}

// The text the pieces keep, against a model that keeps byte by byte; pieces
// cut at random (adjacent ones too), across documents, documents left empty.
void text_from_pieces_against_a_model() {
    std::mt19937_64 random(7);
    for (int t = 0; t < 300; ++t) {
        std::vector<std::string> docs(random() % 6);
        for (std::string& d : docs) d = unique_text(random, random() % 40);
        const Corpus c(docs);
        std::vector<bool> kept(c.bytes.size());
        for (std::size_t i = 0; i < kept.size(); ++i) kept[i] = random() % 3 != 0;
        std::vector<corpus::Piece> pieces;
        std::uint64_t at = 0;
        for (std::uint64_t i = 0; i < kept.size(); ++i) {
            if (!kept[i]) continue;
            const bool joins = !pieces.empty() && pieces.back().origin + pieces.back().size == i && random() % 4 != 0;
            if (joins) {
                ++pieces.back().size;
            } else {
                pieces.push_back({at, i, 1});
            }
            ++at;
        }
        std::string model;
        std::vector<std::uint64_t> offsets;
        for (std::uint64_t boundary : c.offsets) {
            std::uint64_t before = 0;
            for (std::uint64_t i = 0; i < boundary; ++i) before += kept[i];
            offsets.push_back(before);
        }
        for (std::size_t i = 0; i < kept.size(); ++i) {
            if (kept[i]) model += c.bytes[i];
        }
        const corpus::PassText text = shard::text_from_pieces(c.text(), pieces);
        CHECK(text.offsets == offsets);
        CHECK(std::string(reinterpret_cast<const char*>(text.bytes.data()), text.bytes.size()) == model);
    }
    const Corpus c({"abc", "def"});
    for (const std::vector<corpus::Piece>& bad : {std::vector<corpus::Piece>{{1, 0, 2}},  // not from 0
                                                  std::vector<corpus::Piece>{{0, 4, 3}},  // past the end
                                                  std::vector<corpus::Piece>{{0, 3, 1}, {1, 2, 1}}}) {  // going back
        bool thrown = false;
        try {
            shard::text_from_pieces(c.text(), bad);
        } catch (const std::invalid_argument&) {
            thrown = true;
        }
        CHECK(thrown);
    }
}

// A set as ranges and back, against the positions one by one.
void ranges_against_positions() {
    std::mt19937_64 random(11);
    for (int t = 0; t < 200; ++t) {
        const std::uint64_t size = random() % 300;
        corpus::Bitset set(size);
        std::vector<bool> model(size);
        const unsigned density = 1 + random() % 4;
        for (std::uint64_t p = 0; p < size; ++p) {
            if (random() % 5 < density) {
                set.set(p);
                model[p] = true;
            }
        }
        const std::vector<std::uint64_t> ranges = shard::set_ranges(set);
        std::vector<bool> seen(size);
        bool apart = true;
        for (std::size_t i = 0; i < ranges.size(); i += 2) {
            apart = apart && ranges[i] < ranges[i + 1] && (i == 0 || ranges[i] > ranges[i - 1]);
            for (std::uint64_t p = ranges[i]; p < ranges[i + 1]; ++p) seen[p] = true;
        }
        CHECK(apart && seen == model);
        CHECK(shard::from_ranges(ranges, size).words() == set.words());
    }
    bool thrown = false;
    try {
        const std::vector<std::uint64_t> overlapping = {2, 5, 4, 6};
        shard::from_ranges(overlapping, 10);
    } catch (const std::invalid_argument&) {
        thrown = true;
    }
    CHECK(thrown);
}

}  // namespace

int run_cluster_shard_tests(bool) {
    copies_go_run_by_run();
    one_byte_runs_cost_a_record_per_shard();
    runs_longer_than_a_record();
    text_from_pieces_against_a_model();
    ranges_against_positions();
    std::printf("cluster_shards: %d passed, %d failed\n", passed, failed);
    return failed;
}
