// Hand-run timing of every SP 800-90B estimator, one at a time, and of the
// whole assessment, on the samples of a file (one per byte):
//   veltrane_bench_sp800_file_driver FILE [REPEAT [ESTIMATOR...]]
// ESTIMATOR is mcv, collision, markov, compression, tuples, multi_mcw, lag,
// multi_mmc, lz78y or assess (default: all). Each line gives the best wall time
// of REPEAT runs (default 5) and the least process CPU time of a run, which
// counts every thread the pool lent it; the machine is shared, so compare CPU
// times.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "sp800_90b/assessment.hpp"
#include "sp800_90b/estimators.hpp"

namespace sp = veltrane::sp800_90b;

namespace {

double process_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [REPEAT [ESTIMATOR...]]\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.empty()) {
        std::fprintf(stderr, "%s: no samples\n", argv[1]);
        return 2;
    }
    const int repeat = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::vector<std::string> wanted(argv + std::min(argc, 3), argv + argc);
    const unsigned k = *std::max_element(data.begin(), data.end()) <= 1 ? 2u : 256u;
    const sp::Symbols s{data.data(), data.size(), k};
    const bool binary = k == 2;
    double h = 0;
    std::string detail;
    const std::vector<std::pair<std::string, std::function<void()>>> all = {
        {"mcv", [&] { h = sp::most_common_value(s).min_entropy; }},
        {"collision", [&] { h = binary ? sp::collision(s).min_entropy : -1; }},
        {"markov", [&] { h = binary ? sp::markov(s).min_entropy : -1; }},
        {"compression", [&] { h = binary ? sp::compression(s).min_entropy : -1; }},
        {"tuples", [&] {
             const sp::Tuples t = sp::tuple_estimates(s);
             h = std::min(t.t_tuple ? t.t_tuple->min_entropy : 99.0, t.lrs ? t.lrs->min_entropy : 99.0);
             detail = "t=" + std::to_string(t.t_tuple ? t.t_tuple->t : 0) + " v=" + std::to_string(t.lrs ? t.lrs->v : 0);
         }},
        {"multi_mcw", [&] { h = sp::multi_mcw(s).min_entropy; }},
        {"lag", [&] { h = sp::lag(s).min_entropy; }},
        {"multi_mmc", [&] { h = sp::multi_mmc(s).min_entropy; }},
        {"lz78y", [&] { h = sp::lz78y(s).min_entropy; }},
        {"assess", [&] { h = sp::assess(data.data(), data.size(), std::nullopt).min_entropy; }},
    };
    for (const auto& [name, run] : all) {
        if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), name) == wanted.end()) continue;
        double best = 1e99, best_cpu = 1e99;
        detail.clear();
        for (int r = 0; r < repeat; ++r) {
            const double c0 = process_cpu_seconds();
            const auto t0 = std::chrono::steady_clock::now();
            run();
            const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            const double cpu = process_cpu_seconds() - c0;
            best = std::min(best, wall);
            best_cpu = std::min(best_cpu, cpu);
        }
        std::printf("%-12s %8.2f ms  (cpu %8.2f ms)  H = %.17g %s\n", name.c_str(), 1e3 * best, 1e3 * best_cpu, h, detail.c_str());
    }
    return 0;
}
