// Benchmark and comparison driver of the randomness battery (built with
// -DVELTRANE_BENCH=ON; run by hand, never by the tests).
//
//   battery_driver speed [MIB|FILE] [REPEAT] battery against the histogram alone, side by side
//   battery_driver profile FILE W S [REPEAT] the window profile against measuring each window alone
//   battery_driver figures [-b] [-f] FILE... one line of figures per file, in ent's printed formats
//   battery_driver survival DF              chi-square values from stdin: exact and ent-style upper tails
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "battery/chi_square.hpp"
#include "battery/finish.hpp"
#include "battery/pass.hpp"
#include "battery/profile.hpp"
#include "pool/pool.hpp"
#include "shannon_entropy/measures.hpp"
#include "util/count_bytes.hpp"

namespace {

using Clock = std::chrono::steady_clock;
namespace battery = veltrane::battery;

template <class F>
double best_seconds(int repeat, F&& f) {
    double best = 1e300;
    for (int i = 0; i < repeat; ++i) {
        const auto t0 = Clock::now();
        f();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return best;
}

volatile std::uint64_t sink;

std::vector<std::uint8_t> read_file(const char* path);

// The battery against the histogram alone on MIB random bytes, or on the
// contents of a file (to compare with ent on the same file).
int speed(const char* what, int repeat) {
    std::vector<std::uint8_t> data;
    if (std::ifstream(what)) {
        data = read_file(what);
    } else {
        data.resize(std::strtoul(what, nullptr, 10) << 20);
        std::mt19937_64 rng(1);
        for (std::size_t i = 0; i + 8 <= data.size(); i += 8) {
            const std::uint64_t v = rng();
            std::memcpy(data.data() + i, &v, 8);
        }
    }
    const std::size_t n = data.size();
    std::printf("%s: %zu bytes, best of %d, %zu pool threads\n", what, n, repeat, veltrane::pool::thread_count());
    double hist = 0, state = 0, folded = 0, full = 0;
    // Interleaved rounds: the machine is shared, so each figure sees the same noise.
    for (int round = 0; round < 3; ++round) {
        hist = best_seconds(repeat, [&] { sink = veltrane::util::count_bytes(data.data(), n)[0]; });
        state = best_seconds(repeat, [&] { sink = battery::measure_state(data.data(), n).mc_hits; });
        full = best_seconds(repeat, [&] { sink = battery::measure(data.data(), n, false).monte_carlo_hits; });
        battery::PassOptions fold;
        fold.case_fold = true;
        folded = best_seconds(repeat, [&] { sink = battery::measure_state(data.data(), n, fold).mc_hits; });
        const double gib = static_cast<double>(n) / (1 << 30);
        std::printf("round %d: histogram %.3f s (%.2f GiB/s)  battery state %.3f s (%.2f GiB/s, %.2fx the histogram's "
                    "speed)  state+finish %.3f s  case-folded %.3f s (%.2f GiB/s)\n",
                    round, hist, gib / hist, state, gib / state, hist / state, full, folded, gib / folded);
    }
    return 0;
}

std::vector<std::uint8_t> read_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot open %s\n", path);
        std::exit(2);
    }
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

int profile(const char* path, std::size_t window, std::size_t step, int repeat) {
    const std::vector<std::uint8_t> data = read_file(path);
    battery::Profile p;
    const double engine = best_seconds(repeat, [&] {
        p = battery::entropy_profile(data.data(), data.size(), window, step, battery::WindowMeasure::metric);
    });
    std::vector<double> alone(p.offsets.size());
    const double separate = best_seconds(1, [&] {
        for (std::size_t w = 0; w < p.offsets.size(); ++w) {
            const std::size_t len = std::min(window, data.size());
            alone[w] = veltrane::shannon_entropy::measure_metric_entropy(data.data() + p.offsets[w], len);
        }
    });
    std::size_t differ = 0;
    for (std::size_t w = 0; w < alone.size(); ++w) differ += std::memcmp(&alone[w], &p.values[w], 8) != 0;
    std::printf("%zu bytes, window %zu, step %zu: %zu windows; one call %.4f s, each window alone (C++ loop) %.4f s; "
                "%zu values differ\n",
                data.size(), window, step, p.offsets.size(), engine, separate, differ);
    return differ == 0 ? 0 : 1;
}

std::string ent_percent(double q) {
    char buf[64];
    if (q < 0.0001) return "less than 0.01";
    if (q > 0.9999) return "more than than 99.99";
    std::snprintf(buf, sizeof buf, "%1.2f", q * 100);
    return buf;
}

int figures(int argc, char** argv) {
    bool bits = false, fold = false;
    int i = 0;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        bits |= std::strchr(argv[i], 'b') != nullptr;
        fold |= std::strchr(argv[i], 'f') != nullptr;
    }
    for (; i < argc; ++i) {
        const std::vector<std::uint8_t> data = read_file(argv[i]);
        const battery::Result r = battery::measure(data.data(), data.size(), bits, fold);
        // Fields separated by '|': size, entropy, compression, chi-square, ent's percent,
        // exact percent, mean, pi, pi error, serial correlation, p (exact), p (ent).
        std::printf("%s|%" PRIu64 "|%f|%d|%1.2f|%s|%s|%1.4f|%1.9f|%1.2f|", argv[i], r.size, r.ent.entropy,
                    r.ent.compression_percent, r.chi_square, ent_percent(r.ent.chi_square_p).c_str(),
                    ent_percent(r.chi_square_p).c_str(), r.mean, r.monte_carlo_pi, r.monte_carlo_error_percent);
        if (r.ent.serial_correlation_undefined) {
            std::printf("undefined");
        } else {
            std::printf("%1.6f", r.serial_correlation);
        }
        std::printf("|%.17g|%.17g\n", r.chi_square_p, r.ent.chi_square_p);
    }
    return 0;
}

int survival(unsigned df) {
    double x;
    while (std::scanf("%lf", &x) == 1) {
        std::printf("%.17g %.17g\n", battery::chi_square_survival(df, x), battery::ent_chi_square_survival(df, x));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "speed") return speed(argc > 2 ? argv[2] : "256", argc > 3 ? std::atoi(argv[3]) : 3);
    if (mode == "profile" && argc >= 5) {
        return profile(argv[2], std::strtoul(argv[3], nullptr, 10), std::strtoul(argv[4], nullptr, 10),
                       argc > 5 ? std::atoi(argv[5]) : 5);
    }
    if (mode == "figures") return figures(argc - 2, argv + 2);
    if (mode == "survival" && argc == 3) return survival(static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)));
    std::fprintf(stderr, "usage: battery_driver speed [MIB|FILE] [REPEAT] | profile FILE W S [REPEAT] | "
                         "figures [-b] [-f] FILE... | survival DF < values\n");
    return 2;
}
