// Time of the restart cutoff, run by hand: the best of R runs for each h, wall
// and CPU time (the machine is shared), 1000 draws at the test's alpha.
//   veltrane_bench_sp800_restart_cutoff [repeats [h...]]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "sp800_90b_restart/restart_cutoff.hpp"

namespace sp = veltrane::sp800_90b;

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::atoi(argv[1]) : 5;
    std::vector<double> hs;
    for (int i = 2; i < argc; ++i) hs.push_back(std::strtod(argv[i], nullptr));
    if (hs.empty()) hs = {0.05, 0.9, 2.0, 3.0, 4.0, 5.3, 6.0, 7.0, 7.5, 7.99, 8.0};
    const double alpha = sp::restart_alpha();
    double worst = 0.0;
    for (double h : hs) {
        double best_wall = 1e9, best_cpu = 1e9;
        std::uint64_t cutoff = 0;
        for (int r = 0; r < repeats; ++r) {
            const auto t0 = std::chrono::steady_clock::now();
            const std::clock_t c0 = std::clock();
            cutoff = sp::restart_cutoff(h, alpha);
            best_cpu = std::min(best_cpu, static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC);
            best_wall = std::min(best_wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        }
        worst = std::max(worst, best_wall);
        std::printf("h=%-6g cutoff=%-4llu best %.2f ms (cpu %.2f ms)\n", h, static_cast<unsigned long long>(cutoff),
                    best_wall * 1e3, best_cpu * 1e3);
    }
    std::printf("slowest: %.2f ms\n", worst * 1e3);
}
