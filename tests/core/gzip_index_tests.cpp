// The gzip index against plain models: files built with zlib's deflate in
// every shape Python's gzip module accepts, surveyed at several spacings and
// in chunks of every size; from each checkpoint the reader must give the text
// from there on, and the checkpoints must be the first block boundaries past
// each multiple of the spacing. Then what must be refused: every truncation, a
// damaged trailer, bytes after the last member; and a file changed under the
// reader.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "check.hpp"
#include "suites.hpp"

#include "gzip_index/reader.hpp"
#include "gzip_index/survey.hpp"
#include "gzip_drive.hpp"
#include "gzip_model.hpp"

namespace {

namespace gi = veltrane::gzip_index;
using gzip_model::Bytes;
using gzip_model::Kind;
using gzip_model::MemberOptions;

int passed = 0, failed = 0;

// A file and what it holds: its text, the text positions that must be block
// boundaries (flush points, member starts), and the file lengths at which it
// may end (a member's end and the zeros after it).
struct Sample {
    std::string name;
    Bytes file;
    std::string text;
    std::vector<std::uint64_t> known_boundaries;
    std::vector<std::pair<std::size_t, std::size_t>> valid_ends{{0, 0}};
};

void add_member(Sample& s, const std::string& text, const MemberOptions& options, std::size_t zeros_after) {
    s.known_boundaries.push_back(s.text.size());
    for (const auto& flush : options.flushes) s.known_boundaries.push_back(s.text.size() + flush.first);
    const Bytes member = gzip_model::gzip_member(text, options);
    s.file.insert(s.file.end(), member.begin(), member.end());
    s.valid_ends.push_back({s.file.size(), s.file.size() + zeros_after});
    s.file.resize(s.file.size() + zeros_after, 0);
    s.text += text;
}

Sample single(std::string name, const std::string& text, const MemberOptions& options) {
    Sample s{std::move(name), {}, {}, {}};
    add_member(s, text, options, 0);
    return s;
}

std::vector<std::pair<std::size_t, int>> random_flushes(std::mt19937_64& random, std::size_t size, int count) {
    std::vector<std::pair<std::size_t, int>> flushes;
    for (int i = 0; i < count; ++i) {
        flushes.push_back({random() % (size + 1), random() % 2 ? Z_SYNC_FLUSH : Z_FULL_FLUSH});
    }
    flushes.push_back({0, Z_SYNC_FLUSH});
    flushes.push_back({size, Z_FULL_FLUSH});  // a boundary at the very end, before an empty last block
    std::sort(flushes.begin(), flushes.end());
    return flushes;
}

std::vector<Sample> samples(std::mt19937_64& random, bool long_form) {
    std::vector<Sample> out;
    out.push_back(Sample{"no bytes at all", {}, {}, {}});
    out.push_back(single("an empty member", "", gzip_model::deflated(6)));
    for (int level : {0, 1, 6, 9}) {
        out.push_back(single("one byte, level " + std::to_string(level), "x", gzip_model::deflated(level)));
        for (Kind kind : {Kind::random_bytes, Kind::lines, Kind::one_byte, Kind::pattern}) {
            out.push_back(single("kind " + std::to_string(int(kind)) + ", level " + std::to_string(level),
                                 gzip_model::text_of(kind, 150000 + random() % 1000, random), gzip_model::deflated(level)));
        }
    }
    for (int strategy : {Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED, Z_FILTERED}) {
        out.push_back(single("strategy " + std::to_string(strategy),
                             gzip_model::text_of(Kind::lines, 200000, random), gzip_model::deflated(6, strategy)));
    }
    const std::string flushed = gzip_model::text_of(Kind::lines, 300000, random);
    out.push_back(single("flush points", flushed, {6, Z_DEFAULT_STRATEGY, random_flushes(random, flushed.size(), 12)}));
    out.push_back(single("flush points, stored", flushed, {0, Z_DEFAULT_STRATEGY, random_flushes(random, flushed.size(), 5)}));
    const std::size_t large = long_form ? 40'000'000 : 3'000'000;
    out.push_back(single("large lines", gzip_model::text_of(Kind::lines, large, random), gzip_model::deflated(6)));
    out.push_back(single("large random", gzip_model::text_of(Kind::random_bytes, large / 3, random), gzip_model::deflated(1)));
    Sample members{"several members with zeros", {}, {}, {}};
    add_member(members, gzip_model::text_of(Kind::lines, 90000, random), gzip_model::deflated(6), 3);
    add_member(members, "", gzip_model::deflated(1), 0);
    add_member(members, gzip_model::text_of(Kind::random_bytes, 70000, random), gzip_model::deflated(9), 0);
    add_member(members, gzip_model::text_of(Kind::one_byte, 50000, random), gzip_model::deflated(1, Z_RLE), 1);
    add_member(members, gzip_model::text_of(Kind::pattern, 40000, random),
               gzip_model::deflated(6, Z_DEFAULT_STRATEGY, random_flushes(random, 40000, 3)), 700);
    out.push_back(std::move(members));
    return out;
}

using gzip_drive::read_from;
using gzip_drive::survey;

// The same, with a corrupt-data error as text that matches nothing.
std::string read_or_error(std::span<const std::uint8_t> file, const gi::Checkpoint& c, std::size_t in_chunk,
                          std::size_t out_chunk) {
    try {
        return read_from(file, c, in_chunk, out_chunk);
    } catch (const gi::DataError& e) {
        return std::string("\x01error: ") + e.what();
    }
}

// The model of where checkpoints go: given every block boundary in (0, size),
// the first at or past each multiple of the spacing, once each.
std::vector<std::uint64_t> expected_positions(const std::vector<std::uint64_t>& boundaries, std::uint64_t spacing) {
    std::vector<std::uint64_t> out;
    if (boundaries.empty()) return out;
    for (std::uint64_t k = 1; k <= boundaries.back() / spacing; ++k) {
        const auto b = *std::lower_bound(boundaries.begin(), boundaries.end(), k * spacing);
        if (out.empty() || out.back() != b) out.push_back(b);
    }
    return out;
}

std::vector<std::uint64_t> positions(const std::vector<gi::Checkpoint>& checkpoints) {
    std::vector<std::uint64_t> out;
    for (const auto& c : checkpoints) out.push_back(c.position);
    return out;
}

void surveys_and_resumes(const Sample& s) {
    CHECK(gzip_model::python_gzip_text(s.file) == s.text);  // the builder and the model agree
    const gi::SurveyResult every = survey(s.file, 1, s.file.size() + 1);
    CHECK(every.indexable() && every.size == s.text.size());
    const std::vector<std::uint64_t> boundaries = positions(every.checkpoints);
    for (std::uint64_t b : s.known_boundaries) {
        if (b > 0 && b < s.text.size()) CHECK(std::binary_search(boundaries.begin(), boundaries.end(), b));
    }
    for (std::uint64_t spacing : {std::uint64_t{1}, std::uint64_t{997}, std::uint64_t{1} << 15,
                                  std::uint64_t{262144}, std::uint64_t{1} << 40}) {
        const gi::SurveyResult whole = survey(s.file, spacing, s.file.size() + 1);
        CHECK(whole.indexable() && whole.size == s.text.size());
        CHECK(positions(whole.checkpoints) == expected_positions(boundaries, spacing));
        std::vector<std::size_t> chunks = {4096, 7};
        if (s.file.size() <= 200000) chunks.push_back(1);
        for (std::size_t chunk : chunks) {
            const gi::SurveyResult again = survey(s.file, spacing, chunk);
            CHECK(again.indexable() && again.size == whole.size && again.checkpoints == whole.checkpoints);
        }
        // Every checkpoint's own fields, and the reader from a spread of them.
        const std::size_t n = whole.checkpoints.size();
        for (std::size_t i = 0; i < n; ++i) {
            const gi::Checkpoint& c = whole.checkpoints[i];
            const std::size_t w = std::min<std::size_t>(gi::WINDOW_SIZE, c.position);
            CHECK(c.bits < 8 && c.value >> c.bits == 0 && c.offset <= s.file.size());
            CHECK(c.position > (i == 0 ? 0 : whole.checkpoints[i - 1].position) && c.position < s.text.size());
            CHECK(std::string(c.window.begin(), c.window.end()) == s.text.substr(c.position - w, w));
            const bool known = std::find(s.known_boundaries.begin(), s.known_boundaries.end(), c.position) !=
                               s.known_boundaries.end();  // a member's start or a flush point: always read
            if (n > 16 && i % (n / 16) != 0 && i + 1 != n && !known) continue;
            CHECK(read_or_error(s.file, c, 65536, 1 << 17) == s.text.substr(c.position));
        }
        if (n > 0 && s.text.size() - whole.checkpoints.back().position <= 100000) {
            const gi::Checkpoint& c = whole.checkpoints.back();
            CHECK(read_or_error(s.file, c, 1, 3) == s.text.substr(c.position));
            CHECK(read_or_error(s.file, c, 5, 1) == s.text.substr(c.position));
        }
    }
}

// Several short members with zeros after some: every cut of the file is
// accepted exactly where a member (with some of its zeros) ends.
void refuses_every_truncation(std::mt19937_64& random) {
    Sample s{"short members", {}, {}, {}};
    add_member(s, gzip_model::text_of(Kind::lines, 400, random), gzip_model::deflated(9), 2);
    add_member(s, gzip_model::text_of(Kind::random_bytes, 60, random), gzip_model::deflated(0), 0);
    add_member(s, gzip_model::text_of(Kind::pattern, 300, random), gzip_model::deflated(1), 3);
    for (std::size_t length = 0; length <= s.file.size(); ++length) {
        const std::span<const std::uint8_t> cut(s.file.data(), length);
        bool may_end = false;
        for (const auto& [first, last] : s.valid_ends) may_end = may_end || (first <= length && length <= last);
        const Bytes bytes(cut.begin(), cut.end());
        CHECK(gzip_model::python_gzip_text(bytes).has_value() == may_end);
        for (std::size_t chunk : {std::size_t{1}, length + 1}) {
            const gi::SurveyResult r = survey(cut, 50, chunk);
            CHECK(r.indexable() == may_end);
            if (may_end) CHECK(r.size == gzip_model::python_gzip_text(bytes)->size());
            if (!may_end) CHECK(r.checkpoints.empty() && !r.reason.empty());
        }
    }
}

void refuses_damage_and_garbage(std::mt19937_64& random) {
    Sample s{"two members", {}, {}, {}};
    add_member(s, gzip_model::text_of(Kind::lines, 5000, random), gzip_model::deflated(6), 0);
    add_member(s, gzip_model::text_of(Kind::lines, 5000, random), gzip_model::deflated(6), 0);
    const std::size_t first_end = s.valid_ends[1].first;
    for (std::size_t end : {first_end, s.file.size()}) {
        for (std::size_t i = end - 8; i < end; ++i) {  // each byte of a CRC-32 or length
            Bytes damaged = s.file;
            damaged[i] ^= static_cast<std::uint8_t>(1 + random() % 255);
            CHECK(!gzip_model::python_gzip_text(damaged) && !survey(damaged, 1000, 333).indexable());
        }
    }
    for (const Bytes& tail : {Bytes{1}, Bytes{0x1f}, Bytes{0x1f, 0x8b}, Bytes{0, 0, 'x'}, Bytes{0x1f, 0x8b, 8, 0},
                              Bytes{'g', 'a', 'r', 'b', 'a', 'g', 'e'}}) {
        Bytes longer = s.file;
        longer.insert(longer.end(), tail.begin(), tail.end());
        CHECK(!gzip_model::python_gzip_text(longer) && !survey(longer, 1000, 4096).indexable());
    }
    Bytes padded = s.file;
    padded.resize(padded.size() + 5000, 0);
    CHECK(survey(padded, 1000, 4096).size == s.text.size());
    for (const Bytes& odd : {Bytes{0}, Bytes(100, 0), Bytes{'x'}}) {
        CHECK(!gzip_model::python_gzip_text(odd) && !survey(odd, 1, 1).indexable());
    }
    Bytes leading_zero{0};
    leading_zero.insert(leading_zero.end(), s.file.begin(), s.file.end());
    CHECK(!gzip_model::python_gzip_text(leading_zero) && !survey(leading_zero, 1, 4096).indexable());
}

template <class F>
bool throws_data_error(F&& f) {
    try {
        f();
    } catch (const gi::DataError&) {
        return true;
    }
    return false;
}

// A file changed after its survey: the reader says so instead of giving wrong text.
void reader_notices_changes(std::mt19937_64& random) {
    Sample s{"three members", {}, {}, {}};
    for (int i = 0; i < 3; ++i) add_member(s, gzip_model::text_of(Kind::lines, 200000, random), gzip_model::deflated(6), 0);
    const gi::SurveyResult r = survey(s.file, 50000, 65536);
    CHECK(r.indexable() && r.checkpoints.size() >= 3);
    const gi::Checkpoint& early = r.checkpoints.front();
    const std::size_t second_end = s.valid_ends[2].first;
    Bytes damaged = s.file;
    damaged[second_end - 6] ^= 0x40;  // the second member's CRC
    CHECK(throws_data_error([&] { read_from(damaged, early, 4096, 4096); }));
    damaged = s.file;
    damaged[second_end + 40] ^= 0x11;  // inside the third member's deflate data
    CHECK(throws_data_error([&] { read_from(damaged, early, 4096, 4096); }));
    for (std::size_t cut : {s.file.size() - 1, s.file.size() - 9, second_end - 3, second_end + 5}) {
        const std::span<const std::uint8_t> prefix(s.file.data(), cut);
        CHECK(throws_data_error([&] { read_from(prefix, early, 4096, 1 << 16); }));
    }
    Bytes garbage = s.file;
    garbage.push_back('!');
    CHECK(throws_data_error([&] { read_from(garbage, r.checkpoints.back(), 7, 100000); }));

    auto refused = [](auto make) {
        try {
            make();
        } catch (const std::invalid_argument&) {
            return true;
        }
        return false;
    };
    gi::Checkpoint wide = early, overflowing = early, short_window = early;
    wide.bits = 8;
    overflowing.value = 1u << overflowing.bits;
    short_window.window.pop_back();
    for (const gi::Checkpoint* bad : {&wide, &overflowing, &short_window}) {
        CHECK(refused([&] { gi::Reader reader(*bad); }));
    }
    CHECK(refused([] { gi::Survey none(0); }));
}

}  // namespace

int run_gzip_index_tests(bool long_form) {
    std::mt19937_64 random(2024);
    for (const Sample& s : samples(random, long_form)) {
        const int before = failed;
        surveys_and_resumes(s);
        if (failed != before) std::fprintf(stderr, "  (in sample: %s)\n", s.name.c_str());
    }
    refuses_every_truncation(random);
    refuses_damage_and_garbage(random);
    reader_notices_changes(random);
    std::printf("gzip_index: %d passed, %d failed\n", passed, failed);
    return failed;
}
