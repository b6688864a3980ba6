// libFuzzer target: the restart cutoff's probabilities against the value-by-value
// reference, and its cutoff against the probabilities it is defined by.
//
// The input is a header of 8 bytes: h in (0, 8] from the first two (any of 65535
// steps), the number of draws (1 to 120) from the third, x from the fourth, and
// alpha as 2^-(1 + byte 5 % 40) times a mantissa from byte 6. Other h and draws
// outside the allowed ranges come from the last two bytes, and must be refused.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "reference_restart.hpp"
#include "sp800_90b_restart/restart_cutoff.hpp"

namespace {

namespace sp = veltrane::sp800_90b;

[[noreturn]] void fail(const char* what, double h, unsigned draws, unsigned x) {
    std::fprintf(stderr, "restart cutoff: %s (h %.17g, draws %u, x %u)\n", what, h, draws, x);
    std::abort();
}

void check_refused(std::uint8_t a, std::uint8_t b) {
    const double h = 8.0 + (a + 1) / 256.0;  // just above 8
    const double negative = -(b / 16.0);
    for (double bad : {h, negative}) {
        try {
            sp::restart_cutoff(bad, 0.01, 10);
            fail("an h outside (0, 8] accepted", bad, 10, 0);
        } catch (const std::invalid_argument&) {
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    const double h = 8.0 * ((data[0] << 8 | data[1]) + 1) / 65536.0;
    const unsigned draws = 1 + data[2] % 120;
    const unsigned x = data[3] % (draws + 2);
    const double alpha = std::ldexp(1.0, -(1 + data[4] % 40)) * (0.5 + data[5] / 512.0);

    const double ours = sp::max_count_probability(h, x, draws);
    const long double model = restart_reference::by_values(restart_reference::distribution(h), draws, x);
    if (!(std::fabs(ours - model) <= 1e-11)) fail("probability differs from the reference", h, draws, x);

    const std::uint64_t cutoff = sp::restart_cutoff(h, alpha, draws);
    if (cutoff > draws || sp::max_count_probability(h, cutoff, draws) < 1.0 - alpha) {
        fail("cutoff below the quantile", h, draws, static_cast<unsigned>(cutoff));
    }
    if (cutoff > 0 && sp::max_count_probability(h, cutoff - 1, draws) >= 1.0 - alpha) {
        fail("cutoff above the quantile", h, draws, static_cast<unsigned>(cutoff));
    }
    check_refused(data[6], data[7]);
    return 0;
}
