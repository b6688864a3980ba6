// The restart tests of SP 800-90B (section 3.1.4) on 1000 restarts of 1000
// samples each: the sanity check of the most common value in any one restart
// (row) or position (column), then the validation, which assesses the row and
// the column datasets and compares their entropy with the initial estimate H_I.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "sp800_90b/assessment.hpp"
#include "sp800_90b_iid/permutation_test.hpp"
#include "sp800_90b_iid/xoshiro.hpp"

namespace veltrane::sp800_90b::restart {

inline constexpr std::size_t RESTARTS = 1000;
inline constexpr std::size_t RESTART_SAMPLES = 1000;

struct SanityCheck {
    double alpha = 0;
    std::uint64_t x_cutoff = 0;
    // The largest count of one value within one row, within one column, and the larger.
    std::uint64_t x_rows = 0, x_columns = 0, x_max = 0;
    bool passed = false;
};

// One dataset's assessment. Non-IID: the estimators of the samples as they
// are (no bitstring). IID: the most common value estimate and the permutation
// test (the columns' own: NIST's tool runs the rows' a second time there).
struct DatasetAssessment {
    std::optional<Assessment> non_iid;
    std::optional<MostCommonValue> most_common_value;
    std::optional<iid::PermutationTest> permutation;
    double min_entropy = 0;
};

struct RestartTest {
    std::uint64_t samples = 0;
    unsigned width = 0, distinct = 0;
    double h_initial = 0;
    bool iid = false;
    SanityCheck sanity;
    // Empty when the sanity check failed: the validation is not run then.
    std::optional<DatasetAssessment> rows, columns;
    bool validation_passed = false;
    // min(H_r, H_c, H_I) when both parts passed.
    std::optional<double> min_entropy;
    bool passed() const noexcept { return sanity.passed && validation_passed; }
};

// The sanity check alone (exposed for its tests).
SanityCheck sanity_check(const std::uint8_t* data, double h_initial);

// Throws std::invalid_argument for data that is not RESTARTS * RESTART_SAMPLES
// samples, a width outside 1..8 or a sample too wide for it, h_initial outside
// (0, width]; pool::Cancelled when stopped; std::bad_alloc. With `iid`, the
// permutation tests draw from one stream seeded by `seed`: the rows' first,
// the columns' where the rows' left it. `progress` follows the estimators or
// the rounds of the dataset being assessed.
RestartTest restart_test(const std::uint8_t* data, std::size_t n, double h_initial, std::optional<unsigned> width,
                         bool iid, const iid::Seed& seed, Progress progress = {});

}  // namespace veltrane::sp800_90b::restart
