#include "sp800_22/excursions.hpp"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "pool/cancel.hpp"
#include "sp800_22/special_functions.hpp"
#include "sp800_22/walk_steps.hpp"

namespace veltrane::sp800_22 {

namespace {

constexpr int FAR = 9;          // the furthest state either test looks at
constexpr int NEAR = 4;         // the furthest the cycle counts look at
constexpr unsigned CLASSES = 6;  // 0..4 visits, 5 or more

// The walk's visits: per cycle for the states -4..4, in total for -9..9.
class Walk {
public:
    void visit(std::int64_t s) {
        if (s == 0) {
            close_cycle();
        } else if (s >= -FAR && s <= FAR) {
            ++total[s + FAR];
            if (s >= -NEAR && s <= NEAR) ++in_cycle[s + NEAR];
        }
    }
    void close_cycle() {
        ++cycles;
        for (int x = -NEAR; x <= NEAR; ++x) {
            if (x == 0) continue;
            auto& count = in_cycle[x + NEAR];
            ++cycle_counts[x + NEAR][count < CLASSES ? count : CLASSES - 1];
            count = 0;
        }
    }

    std::uint64_t cycles = 0;
    std::array<std::uint64_t, 2 * FAR + 1> total{};
    std::array<std::uint64_t, 2 * NEAR + 1> in_cycle{};
    std::array<std::array<std::uint64_t, CLASSES>, 2 * NEAR + 1> cycle_counts{};
};

}  // namespace

double excursion_constraint(std::uint64_t n) {
    const double scaled = 0.005 * std::sqrt(static_cast<double>(n));
    return scaled > 500.0 ? scaled : 500.0;
}

double excursion_probability(int x, unsigned k, bool compatible) {
    const double a = 1.0 / (2.0 * std::abs(x));  // P(a cycle visits x at all) is 1/(2|x|)
    const double p = k == 0 ? 1.0 - a : k < CLASSES - 1 ? a * a * std::pow(1.0 - a, k - 1.0) : a * std::pow(1.0 - a, CLASSES - 2.0);
    if (!compatible) return p;
    char text[32];
    std::snprintf(text, sizeof text, "%.10f", p);
    return std::strtod(text, nullptr);
}

Excursions excursion_tests(const Bits& bits, bool compatible) {
    Walk walk;
    std::int64_t s = 0;
    const std::uint64_t bytes = bits.size() / 8;
    for (std::uint64_t j = 0; j < bytes; ++j) {
        if ((j & 0xFFFF) == 0) pool::checkpoint();
        const unsigned byte = byte_at(bits, j);
        // Eight steps from further out than 9 + 8 reach neither zero nor a state counted.
        if (s > FAR + 8 || s < -FAR - 8) {
            s += BYTE_STEPS[byte].net;
            continue;
        }
        for (int b = 7; b >= 0; --b) walk.visit(s += (byte >> b) & 1 ? 1 : -1);
    }
    for (std::uint64_t i = bytes * 8; i < bits.size(); ++i) walk.visit(s += bits.bit(i) ? 1 : -1);
    // A walk that does not end at zero ends inside a last cycle, closed by the zero appended after it.
    if (s != 0) walk.close_cycle();

    Excursions e;
    const double constraint = excursion_constraint(bits.size());
    const bool applicable = static_cast<double>(walk.cycles) >= constraint;
    e.excursions.cycles = e.variant.cycles = walk.cycles;
    e.excursions.constraint = constraint;
    e.excursions.applicable = e.variant.applicable = applicable;
    const auto j = static_cast<double>(walk.cycles);
    for (unsigned i = 0; i < EXCURSION_STATES; ++i) {
        const int x = excursion_state(i);
        e.excursions.counts[i] = walk.cycle_counts[x + NEAR];
        if (!applicable) continue;
        double chi = 0.0;
        for (unsigned k = 0; k < CLASSES; ++k) {
            const double expected = j * excursion_probability(x, k, compatible);
            const double gap = static_cast<double>(e.excursions.counts[i][k]) - expected;
            chi += gap * gap / expected;
        }
        e.excursions.chi_squares[i] = chi;
        e.excursions.p_values[i] = igamc((CLASSES - 1) / 2.0, chi / 2.0);
    }
    for (unsigned i = 0; i < VARIANT_STATES; ++i) {
        const int x = variant_state(i);
        e.variant.visits[i] = walk.total[x + FAR];
        if (!applicable) continue;
        const double gap = std::fabs(static_cast<double>(e.variant.visits[i]) - j);
        e.variant.p_values[i] = std::erfc(gap / std::sqrt(2.0 * j * (4.0 * std::abs(x) - 2.0)));
    }
    return e;
}

}  // namespace veltrane::sp800_22
