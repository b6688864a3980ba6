// Times of the four predictors, run by hand: 10^6 random bytes (the literal
// track, k = 256) and their 8 * 10^6-bit bitstring.
//   veltrane_bench_sp800_predictors [n [name|all [bits|bytes]]]
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "sp800_90b/estimators.hpp"

namespace sp = veltrane::sp800_90b;

int main(int argc, char** argv) {
    const std::size_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    std::mt19937_64 rng(2026);
    std::vector<std::uint8_t> bytes(n), bits(8 * n);
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<std::uint8_t>(rng() >> 56);
        for (unsigned b = 0; b < 8; ++b) bits[8 * i + b] = (bytes[i] >> (7 - b)) & 1;
    }
    struct Named {
        const char* name;
        sp::Prediction (*f)(sp::Symbols);
    };
    const Named all[] = {{"multi_mcw", sp::multi_mcw}, {"lag", sp::lag}, {"multi_mmc", sp::multi_mmc}, {"lz78y", sp::lz78y}};
    for (const Named& p : all) {
        if (argc > 2 && std::string(argv[2]) != "all" && std::string(argv[2]) != p.name) continue;
        for (int track = 0; track < 2; ++track) {
            if (argc > 3 && std::string(argv[3]) != (track == 0 ? "bits" : "bytes")) continue;
            const auto& data = track == 0 ? bits : bytes;
            const auto t0 = std::chrono::steady_clock::now();
            const std::clock_t c0 = std::clock();
            const sp::Prediction r = p.f({data.data(), data.size(), track == 0 ? 2u : 256u});
            const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            // CPU time as well: the machine is shared, and wall time counts the others' turns.
            const double cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
            std::printf("%-10s %-9s n=%zu  %.3f s (cpu %.3f s)  C=%llu r=%llu H=%.6f\n", p.name,
                        track == 0 ? "bits" : "bytes", data.size(), s, cpu, (unsigned long long)r.c, (unsigned long long)r.r, r.min_entropy);
        }
    }
}
