#include "sp800_22/rank.hpp"

#include <cmath>

#include "pool/cancel.hpp"

namespace veltrane::sp800_22 {

unsigned binary_rank(std::array<std::uint32_t, MATRIX_SIDE> rows) {
    unsigned rank = 0;
    for (unsigned column = 0; column < MATRIX_SIDE && rank < MATRIX_SIDE; ++column) {
        const std::uint32_t bit = std::uint32_t{1} << (31 - column);
        unsigned pivot = rank;
        while (pivot < MATRIX_SIDE && !(rows[pivot] & bit)) ++pivot;
        if (pivot == MATRIX_SIDE) continue;
        std::swap(rows[rank], rows[pivot]);
        for (unsigned r = rank + 1; r < MATRIX_SIDE; ++r) {
            if (rows[r] & bit) rows[r] ^= rows[rank];
        }
        ++rank;
    }
    return rank;
}

double rank_probability(unsigned r) {
    // 2^(r(Q+M-r) - MQ) * prod_{i<r} (1 - 2^(i-Q)) (1 - 2^(i-M)) / (1 - 2^(i-r)), Q = M = 32.
    const double m = MATRIX_SIDE;
    double product = 1.0;
    for (unsigned i = 0; i < r; ++i) {
        const double di = i;
        product *= (1.0 - std::pow(2.0, di - m)) * (1.0 - std::pow(2.0, di - m)) / (1.0 - std::pow(2.0, di - r));
    }
    return std::pow(2.0, r * (2.0 * m - r) - m * m) * product;
}

RankFigures rank_test(const Bits& bits) {
    RankFigures f;
    f.matrices = bits.size() / MATRIX_BITS;
    f.discarded = bits.size() % MATRIX_BITS;
    f.probabilities[0] = rank_probability(MATRIX_SIDE);
    f.probabilities[1] = rank_probability(MATRIX_SIDE - 1);
    f.probabilities[2] = 1.0 - f.probabilities[0] - f.probabilities[1];
    for (std::uint64_t k = 0; k < f.matrices; ++k) {
        if ((k & 0xFF) == 0) pool::checkpoint();
        std::array<std::uint32_t, MATRIX_SIDE> rows;
        for (unsigned r = 0; r < MATRIX_SIDE; ++r) {
            rows[r] = static_cast<std::uint32_t>(bits.window(k * MATRIX_BITS + MATRIX_SIDE * r) >> 32);
        }
        const unsigned rank = binary_rank(rows);
        ++f.counts[rank == MATRIX_SIDE ? 0 : rank == MATRIX_SIDE - 1 ? 1 : 2];
    }
    const auto n = static_cast<double>(f.matrices);
    for (unsigned i = 0; i < 3; ++i) {
        const double expected = n * f.probabilities[i];
        const double gap = static_cast<double>(f.counts[i]) - expected;
        f.chi_square += gap * gap / expected;
    }
    f.p_value = std::exp(-f.chi_square / 2.0);
    return f;
}

}  // namespace veltrane::sp800_22
