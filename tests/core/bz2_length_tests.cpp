// bz2_length against libbz2 itself (BZ2_bzBuffToBuffCompress, work factor 30):
// both entry points on random and run-laden bytes and on the decimal text of
// every kind of sample sequence, across block cuts, tiny inputs and levels;
// the plain model against the library; workspaces reused and shared out
// between threads; refused levels. The stages alone are in bz2_stage_tests.cpp.
#include <bzlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bz2_inputs.hpp"
#include "check.hpp"
#include "reference_bz2.hpp"
#include "suites.hpp"

#include "bz2_length/bz2_length.hpp"
#include "bz2_length/format.hpp"

namespace {

namespace bz = veltrane::bz2_length;
using bz2_inputs::Kind;
using Bytes = std::vector<std::uint8_t>;

int passed = 0, failed = 0;
int compared = 0;

std::uint64_t library_length(const Bytes& text, int level) {
    // The library's documented bound: 1% more than the input, and 600 bytes.
    std::vector<char> out(text.size() + text.size() / 100 + 600);
    auto size = static_cast<unsigned>(out.size());
    char empty = 0;
    char* source = text.empty() ? &empty : reinterpret_cast<char*>(const_cast<std::uint8_t*>(text.data()));
    const int status = BZ2_bzBuffToBuffCompress(out.data(), &size, source, static_cast<unsigned>(text.size()), level, 0, 0);
    if (status != BZ_OK) std::fprintf(stderr, "libbz2 failed: %d\n", status);
    return status == BZ_OK ? size : 0;
}

void same_as_library(const Bytes& text, int level, bz::Workspace& ws, const std::string& what) {
    const std::uint64_t want = library_length(text, level);
    const std::uint64_t got = bz::compressed_length(text.data(), text.size(), level, ws);
    ++compared;
    if (got != want) std::fprintf(stderr, "%s: %zu bytes, level %d: libbz2 %llu, ours %llu\n", what.c_str(), text.size(), level, (unsigned long long)want, (unsigned long long)got);
    CHECK(got == want);
}

void same_as_library_decimal(const Bytes& values, int level, bz::Workspace& ws, const std::string& what) {
    const Bytes text = bz2_reference::decimal_text(values.data(), values.size());
    const std::uint64_t want = library_length(text, level);
    const std::uint64_t got = bz::decimal_text_length(values.data(), values.size(), level, ws);
    const std::uint64_t as_text = bz::compressed_length(text.data(), text.size(), level, ws);
    ++compared;
    if (got != want || as_text != want)
        std::fprintf(stderr, "%s: %zu values (%zu bytes), level %d: libbz2 %llu, ours %llu, as text %llu\n", what.c_str(), values.size(), text.size(), level, (unsigned long long)want, (unsigned long long)got, (unsigned long long)as_text);
    CHECK(got == want && as_text == want);
}

void check_tiny(bz::Workspace& ws, std::mt19937_64& rng) {
    same_as_library({}, 5, ws, "empty");
    same_as_library_decimal({}, 5, ws, "no values");
    for (int v = 0; v < 256; ++v) {
        same_as_library_decimal({static_cast<std::uint8_t>(v)}, 1 + v % 9, ws, "one value");
        same_as_library({static_cast<std::uint8_t>(v)}, 1 + v % 9, ws, "one byte");
    }
    for (int trial = 0; trial < 600; ++trial) {
        const auto kind = static_cast<Kind>(trial % static_cast<int>(Kind::count));
        same_as_library_decimal(bz2_inputs::samples(kind, 1 + rng() % 12, rng), 1 + trial % 9, ws, "few values");
        same_as_library(bz2_inputs::text_with_runs(rng() % 40, 1 + trial % 3, 300, rng), 1 + trial % 9, ws, "few bytes");
    }
}

void check_bytes(bool long_form, bz::Workspace& ws, std::mt19937_64& rng) {
    for (int trial = 0; trial < (long_form ? 300 : 60); ++trial) {
        const std::size_t n = rng() % (trial % 4 == 0 ? 320000 : 30000);
        const int level = 1 + static_cast<int>(rng() % 3);
        Bytes t(n);
        if (trial % 3 == 0) {
            for (auto& b : t) b = static_cast<std::uint8_t>(rng());
        } else {
            t = bz2_inputs::text_with_runs(n, 1 + static_cast<int>(rng() % 60), trial % 2 ? 300 : 1000, rng);
        }
        same_as_library(t, level, ws, "bytes");
    }
    // Every byte value, and runs around 255 of each.
    Bytes all;
    for (int r = 250; r < 262; ++r)
        for (int b = 0; b < 256; ++b) all.insert(all.end(), b % 3 ? 1 : r, static_cast<std::uint8_t>(b));
    same_as_library(all, 1, ws, "all values");
}

void check_decimal(bool long_form, bz::Workspace& ws, std::mt19937_64& rng) {
    for (int trial = 0; trial < (long_form ? 400 : 80); ++trial) {
        const auto kind = static_cast<Kind>(trial % static_cast<int>(Kind::count));
        const std::size_t n = rng() % (trial % 3 == 0 ? 90000 : 8000);
        const Bytes values = bz2_inputs::samples(kind, n, rng);
        same_as_library_decimal(values, 1 + static_cast<int>(rng() % 2), ws, bz2_inputs::name(kind));
    }
    for (const Kind kind : {Kind::bytes, Kind::bits, Kind::skewed}) same_as_library_decimal(bz2_inputs::samples(kind, 300000, rng), 5, ws, bz2_inputs::name(kind));
}

// Texts whose length puts a block's end at every place near the capacity:
// values drawn until the text is one byte short of k * capacity + delta, then
// one more (a single digit, or a value of repeated digits), for k = 1..3.
void check_block_cuts(bool long_form, bz::Workspace& ws, std::mt19937_64& rng) {
    const std::size_t capacity = bz::block_capacity(1);
    for (int trial = 0; trial < (long_form ? 240 : 48); ++trial) {
        const auto kind = trial % 2 ? Kind::digit_runs : Kind::bytes;
        const std::size_t blocks = 1 + trial % 3;
        const long delta = static_cast<long>(trial / 3 % 8) - 4;
        const std::size_t target = blocks * capacity + delta;
        Bytes values;
        std::size_t length = 0;
        while (length + 4 < target) {
            values.push_back(bz2_inputs::samples(kind, 1, rng)[0]);
            length += (values.size() > 1) + bz2_reference::decimal_text(&values.back(), 1).size();
        }
        while (length + 1 < target) values.push_back(static_cast<std::uint8_t>(rng() % 10)), length += 2;
        for (int extra = 0; extra < 3; ++extra) {
            same_as_library_decimal(values, 1, ws, "block cut");
            values.push_back(static_cast<std::uint8_t>(extra == 0 ? 1 : extra == 1 ? 11 : 111));
        }
    }
    // The fullest block: a run of 4 begun one byte short of the capacity,
    // then a lone last byte, which joins it.
    for (int level : {1, 2}) {
        Bytes t = bz2_inputs::text_with_runs(bz::block_capacity(level) - 1, 200, 1, rng);
        t.back() = 250;  // no other byte is above 199
        t.insert(t.end(), {'A', 'A', 'A', 'A', 'B'});
        same_as_library(t, level, ws, "fullest block");
    }
    // Runs of bytes across the cut.
    for (int trial = 0; trial < (long_form ? 200 : 40); ++trial) {
        Bytes t = bz2_inputs::text_with_runs(capacity - 8 + rng() % 12, 200, 2, rng);
        t.insert(t.end(), 1 + rng() % (trial % 2 ? 6 : 300), 'A');
        t.insert(t.end(), rng() % 4, 'B');
        same_as_library(t, 1, ws, "run at the cut");
    }
}

// The plain model against the library, and so against the fast code.
void check_reference(bz::Workspace& ws, std::mt19937_64& rng) {
    for (int trial = 0; trial < 150; ++trial) {
        Bytes text;
        if (trial % 2) {
            text = bz2_inputs::text_with_runs(rng() % 5000, 1 + trial % 40, 300, rng);
        } else {
            const Bytes v = bz2_inputs::samples(static_cast<Kind>(trial / 2 % 8), rng() % 1500, rng);
            text = bz2_reference::decimal_text(v.data(), v.size());
        }
        const long model = bz2_reference::compressed_length(text.data(), text.size(), 1);
        CHECK(static_cast<std::uint64_t>(model) == library_length(text, 1));
        CHECK(static_cast<std::uint64_t>(model) == bz::compressed_length(text.data(), text.size(), 1, ws));
    }
}

// One workspace through inputs of every size and both paths; two threads at
// once, each with its own, on different data.
void check_workspaces(std::mt19937_64& rng) {
    std::vector<Bytes> inputs;
    for (int k = 0; k < 8; ++k) inputs.push_back(bz2_inputs::samples(static_cast<Kind>(k), k % 2 ? 200000 : 3000, rng));
    std::vector<std::uint64_t> alone;
    for (const Bytes& v : inputs) {
        bz::Workspace fresh;
        alone.push_back(bz::decimal_text_length(v.data(), v.size(), 5, fresh));
    }
    bz::Workspace reused;
    std::size_t warm = 0;
    for (int round = 0; round < 2; ++round) {
        for (std::size_t k = 0; k < inputs.size(); ++k) {
            const Bytes text = bz2_reference::decimal_text(inputs[k].data(), inputs[k].size());
            bz::compressed_length(text.data(), text.size(), 1 + k % 9, reused);
            CHECK(bz::decimal_text_length(inputs[k].data(), inputs[k].size(), 5, reused) == alone[k]);
        }
        // Once warm, the same inputs again need no more room.
        if (round == 1) CHECK(reused.footprint() == warm);
        warm = reused.footprint();
    }
    auto worker = [&](std::size_t first) {
        bz::Workspace own;
        bool same = true;
        for (int round = 0; round < 3; ++round)
            for (std::size_t k = first; k < inputs.size(); k += 2)
                same = same && bz::decimal_text_length(inputs[k].data(), inputs[k].size(), 5, own) == alone[k];
        return same;
    };
    auto a = std::async(std::launch::async, worker, 0), b = std::async(std::launch::async, worker, 1);
    for (auto* f : {&a, &b}) {
        if (f->wait_for(std::chrono::minutes(2)) != std::future_status::ready) {
            std::fprintf(stderr, "bz2_length: a worker thread did not finish in 2 minutes\n");
            std::_Exit(1);
        }
        CHECK(f->get());
    }
}

void check_levels(bz::Workspace& ws) {
    const std::uint8_t v[] = {1, 2, 3};
    for (int level : {0, 10, -1}) {
        for (int path = 0; path < 2; ++path) {
            try {
                path ? bz::decimal_text_length(v, 3, level, ws) : bz::compressed_length(v, 3, level, ws);
                CHECK(false);
            } catch (const std::invalid_argument& e) {
                CHECK(std::string(e.what()).find(std::to_string(level)) != std::string::npos);
            }
        }
    }
}

}  // namespace

int run_bz2_length_tests(bool long_form) {
    passed = failed = 0;
    std::mt19937_64 rng(2024);
    bz::Workspace ws;
    check_tiny(ws, rng);
    check_bytes(long_form, ws, rng);
    check_decimal(long_form, ws, rng);
    check_block_cuts(long_form, ws, rng);
    check_reference(ws, rng);
    check_workspaces(rng);
    check_levels(ws);
    std::printf("bz2_length: %d passed, %d failed (%d inputs against libbz2)\n", passed, failed, compared);
    return failed + run_bz2_stage_tests(long_form) + run_bz2_rotation_tests(long_form);
}
