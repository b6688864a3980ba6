// Time and peak memory of the repeats search (and of the fragment search) on
// one input, in a fresh process, without an interpreter.
//
//   veltrane_bench_repeats INPUT [--top N|none] [--min-entropy X] [--raw] [--coverage]
//                          [--overlap] [--max-starts N] [--fragment-search COUNT] [--show K]
//
// INPUT is a file or random:BYTES (seeded random bytes). Prints one JSON line:
// seconds of the call, peak resident memory of the process in MiB (input
// included), the number of fragments and stored starts, what was left out.
// bench/bench_repeats.py runs it side by side with pydivsufsort.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "strings/frag/search.hpp"
#include "strings/repeats/search.hpp"

namespace rep = veltrane::strings::repeats;
namespace frag = veltrane::strings::frag;

namespace {

std::vector<std::uint8_t> load(const std::string& input) {
    if (input.rfind("random:", 0) == 0) {
        std::vector<std::uint8_t> data(std::stoull(input.substr(7)));
        std::mt19937_64 rng(1);
        for (auto& b : data) b = static_cast<std::uint8_t>(rng());
        return data;
    }
    std::ifstream in(input, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", input.c_str());
        std::exit(2);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

double peak_mib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s INPUT [options]\n", argv[0]);
        return 2;
    }
    rep::Options o;
    long long fragment_search = -1;
    std::size_t show = 0;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (arg == "--top") {
            const std::string v = value();
            o.top = v == "none" ? std::optional<std::uint64_t>{} : std::optional<std::uint64_t>{std::stoull(v)};
        } else if (arg == "--min-entropy") {
            o.min_entropy = std::stod(value());
        } else if (arg == "--raw") {
            o.maximal = false, o.exclude_periodic = false, o.min_entropy.reset();
        } else if (arg == "--coverage") {
            o.rank = rep::Rank::coverage;
        } else if (arg == "--overlap") {
            o.non_overlap = false;
        } else if (arg == "--max-starts") {
            o.max_starts = std::stoull(value());
        } else if (arg == "--min-length") {
            o.min_length = std::stoull(value());
        } else if (arg == "--fragment-search") {
            fragment_search = std::stoll(value());
        } else if (arg == "--show") {
            show = std::stoull(value());
        } else {
            std::fprintf(stderr, "unknown option %s\n", arg.c_str());
            return 2;
        }
    }
    const std::vector<std::uint8_t> data = load(argv[1]);
    std::span<const std::uint8_t> seq(data.data(), data.size());
    const auto begin = std::chrono::steady_clock::now();
    if (fragment_search >= 0) {
        const auto result = frag::find_non_overlapping_fragments_generic(seq, static_cast<std::uint64_t>(fragment_search), 2, false);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        std::printf("{\"n\": %zu, \"seconds\": %.4f, \"peak_mib\": %.1f, \"fragments\": %zu}\n", data.size(), seconds,
                    peak_mib(), result.size());
        return 0;
    }
    const rep::RepeatsResult r = rep::find_repeats(seq, o);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::printf("{\"n\": %zu, \"seconds\": %.4f, \"peak_mib\": %.1f, \"fragments\": %zu, \"starts\": %zu, "
                "\"left_out\": {\"few_non_overlapping\": %llu, \"periodic\": %llu, \"low_entropy\": %llu, "
                "\"not_maximal\": %llu}}\n",
                data.size(), seconds, peak_mib(), r.size(), r.starts.size(),
                static_cast<unsigned long long>(r.left_out.few_non_overlapping),
                static_cast<unsigned long long>(r.left_out.periodic),
                static_cast<unsigned long long>(r.left_out.low_entropy),
                static_cast<unsigned long long>(r.left_out.not_maximal));
    for (std::size_t i = 0; i < std::min(show, r.size()); ++i) {
        std::string preview;
        for (std::uint64_t k = 0; k < std::min<std::uint64_t>(r.lengths[i], 32); ++k) {
            const std::uint8_t c = data[r.firsts[i] + k];
            char buf[8];
            std::snprintf(buf, sizeof buf, c >= 32 && c < 127 && c != '\\' ? "%c" : "\\x%02x", c);
            preview += buf;
        }
        std::printf("  %zu: %llu x %llu at %llu saves %llu  %s\n", i + 1, static_cast<unsigned long long>(r.counts[i]),
                    static_cast<unsigned long long>(r.lengths[i]), static_cast<unsigned long long>(r.firsts[i]),
                    static_cast<unsigned long long>(r.scores[i]), preview.c_str());
    }
    return 0;
}
