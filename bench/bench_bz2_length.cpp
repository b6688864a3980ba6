// The exact libbz2 length (src/bz2_length/) against libbz2 itself, side by side
// on the same inputs in one run (built with -DVELTRANE_BENCH=ON; run by hand).
//
//   bench_bz2_length [--samples N] [--repeat R] [--level L]
//
// For each kind of input: libbz2's time (BZ2_bzBuffToBuffCompress on the
// decimal text, work factor 30), ours (decimal_text_length on the samples; for
// byte inputs compressed_length), and the ratio, best of R runs, thread CPU
// time and wall time; the lengths must agree. One thread throughout.
#include <bzlib.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bz2_length/bz2_length.hpp"

namespace {

namespace bz = veltrane::bz2_length;
using Bytes = std::vector<std::uint8_t>;

struct Times {
    double cpu = 1e300, wall = 1e300;
};

double thread_cpu() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// Best of `repeat` for each, the two taking turns so that a noisy stretch of
// the machine hits both alike.
void race(int repeat, const std::function<std::uint64_t()>& theirs, const std::function<std::uint64_t()>& ours,
          Times& t_theirs, Times& t_ours, std::uint64_t& l_theirs, std::uint64_t& l_ours) {
    for (int r = 0; r < repeat; ++r) {
        for (int side = 0; side < 2; ++side) {
            const auto w0 = std::chrono::steady_clock::now();
            const double c0 = thread_cpu();
            const std::uint64_t length = side == 0 ? theirs() : ours();
            const double cpu = thread_cpu() - c0;
            const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
            Times& t = side == 0 ? t_theirs : t_ours;
            t.cpu = std::min(t.cpu, cpu), t.wall = std::min(t.wall, wall);
            (side == 0 ? l_theirs : l_ours) = length;
        }
    }
}

Bytes decimal_text(const Bytes& values) {
    std::string text;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) text += ' ';
        text += std::to_string(values[i]);
    }
    return Bytes(text.begin(), text.end());
}

std::uint64_t library_length(const Bytes& text, int level) {
    std::vector<char> out(text.size() + text.size() / 100 + 600);
    auto size = static_cast<unsigned>(out.size());
    char empty = 0;
    char* source = text.empty() ? &empty : reinterpret_cast<char*>(const_cast<std::uint8_t*>(text.data()));
    if (BZ2_bzBuffToBuffCompress(out.data(), &size, source, static_cast<unsigned>(text.size()), level, 0, 0) != BZ_OK) {
        std::fprintf(stderr, "libbz2 failed\n");
        std::exit(1);
    }
    return size;
}

struct Kind {
    const char* name;
    std::function<std::uint8_t(std::size_t, std::mt19937_64&)> sample;
};

}  // namespace

int main(int argc, char** argv) {
    std::size_t n = 1000000;
    int repeat = 5, level = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--samples") n = std::strtoull(argv[i + 1], nullptr, 10);
        else if (arg == "--repeat") repeat = std::atoi(argv[i + 1]);
        else if (arg == "--level") level = std::atoi(argv[i + 1]);
        else { std::fprintf(stderr, "usage: %s [--samples N] [--repeat R] [--level L]\n", argv[0]); return 2; }
    }
    std::normal_distribution<double> normal(128.0, 10.0);
    const Kind kinds[] = {
        {"random 8-bit samples", [](std::size_t, std::mt19937_64& r) { return std::uint8_t(r()); }},
        {"random bits", [](std::size_t, std::mt19937_64& r) { return std::uint8_t(r() & 1); }},
        {"random 4-bit samples", [](std::size_t, std::mt19937_64& r) { return std::uint8_t(r() & 15); }},
        {"skewed: normal, sd 10", [&](std::size_t, std::mt19937_64& r) { return std::uint8_t(std::clamp(std::lround(normal(r)), 0L, 255L)); }},
        {"skewed: geometric, p 1/2", [](std::size_t, std::mt19937_64& r) { return std::uint8_t(std::min(std::countr_one(r()), 255)); }},
        {"constant (7)", [](std::size_t, std::mt19937_64&) { return std::uint8_t(7); }},
        {"periodic (0 1 2 ... 9)", [](std::size_t i, std::mt19937_64&) { return std::uint8_t(i % 10); }},
        {"periodic, random period of 1000", [](std::size_t i, std::mt19937_64&) { return std::uint8_t((i % 1000) * 2654435761u >> 24); }},
    };
    std::printf("%zu samples, level %d, best of %d; seconds of thread CPU time (wall time)\n\n", n, level, repeat);
    std::printf("%-34s %9s %18s %18s %8s\n", "input", "text MB", "libbz2", "ours", "ratio");
    bz::Workspace ws;
    bool all_equal = true;
    for (const Kind& kind : kinds) {
        std::mt19937_64 rng(1);
        Bytes values(n);
        for (std::size_t i = 0; i < n; ++i) values[i] = kind.sample(i, rng);
        const Bytes text = decimal_text(values);
        Times theirs, ours;
        std::uint64_t lt = 0, lo = 0;
        race(repeat, [&] { return library_length(text, level); }, [&] { return bz::decimal_text_length(values.data(), n, level, ws); },
             theirs, ours, lt, lo);
        all_equal = all_equal && lt == lo;
        std::printf("%-34s %9.2f %8.4f (%7.4f) %8.4f (%7.4f) %7.1fx%s\n", kind.name, text.size() / 1e6, theirs.cpu,
                    theirs.wall, ours.cpu, ours.wall, theirs.cpu / ours.cpu, lt == lo ? "" : "  LENGTHS DIFFER");
    }
    // The generic path: any bytes, through compressed_length.
    {
        std::mt19937_64 rng(1);
        Bytes values(n);
        for (auto& v : values) v = std::uint8_t(rng());
        const Bytes text = decimal_text(values);
        Bytes random_bytes(text.size());
        for (auto& b : random_bytes) b = std::uint8_t(rng());
        for (const auto& [name, data] : {std::pair<const char*, const Bytes*>{"decimal text as bytes (8-bit)", &text},
                                         {"random bytes, as long", &random_bytes}}) {
            Times theirs, ours;
            std::uint64_t lt = 0, lo = 0;
            race(repeat, [&] { return library_length(*data, level); },
                 [&] { return bz::compressed_length(data->data(), data->size(), level, ws); }, theirs, ours, lt, lo);
            all_equal = all_equal && lt == lo;
            std::printf("%-34s %9.2f %8.4f (%7.4f) %8.4f (%7.4f) %7.1fx%s\n", name, data->size() / 1e6, theirs.cpu,
                        theirs.wall, ours.cpu, ours.wall, theirs.cpu / ours.cpu, lt == lo ? "" : "  LENGTHS DIFFER");
        }
    }
    std::printf("\nworkspace after all of them: %.1f MB (%.1f bytes per sample)\n", ws.footprint() / 1e6,
                double(ws.footprint()) / n);
    if (!all_equal) std::printf("SOME LENGTHS DIFFER FROM LIBBZ2\n");
    return all_equal ? 0 : 1;
}
