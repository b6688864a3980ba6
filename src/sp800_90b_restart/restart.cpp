#include "sp800_90b_restart/restart.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "pool/cancel.hpp"
#include "sp800_90b_iid/iid.hpp"
#include "sp800_90b_iid/samples.hpp"
#include "sp800_90b_restart/restart_cutoff.hpp"

namespace veltrane::sp800_90b::restart {

namespace {

constexpr std::size_t SAMPLES = RESTARTS * RESTART_SAMPLES;

// The largest count of one value among the `count` samples at data[start],
// data[start + stride], ...
std::uint64_t most_common_count(const std::uint8_t* data, std::size_t start, std::size_t stride, std::size_t count) {
    std::array<std::uint32_t, 256> seen{};
    std::uint32_t most = 0;
    for (std::size_t i = 0; i < count; ++i) most = std::max(most, ++seen[data[start + i * stride]]);
    return most;
}

// Samples i * 1000 + j of the rows become j * 1000 + i: restart i's j-th sample
// goes to the j-th position's dataset.
std::vector<std::uint8_t> columns_of(const std::uint8_t* data) {
    std::vector<std::uint8_t> columns(SAMPLES);
    for (std::size_t i = 0; i < RESTARTS; ++i) {
        pool::checkpoint();
        for (std::size_t j = 0; j < RESTART_SAMPLES; ++j) columns[j * RESTARTS + i] = data[i * RESTART_SAMPLES + j];
    }
    return columns;
}

DatasetAssessment non_iid_assessment(const std::uint8_t* data, unsigned width, Progress progress) {
    DatasetAssessment d;
    d.non_iid = assess(data, SAMPLES, width, progress, Tracks::LITERAL_ONLY);
    d.min_entropy = d.non_iid->h_original;
    return d;
}

DatasetAssessment iid_assessment(const std::uint8_t* data, iid::Xoshiro256& rng, std::uint64_t* rounds) {
    DatasetAssessment d;
    d.most_common_value = most_common_value({data, SAMPLES, 256});
    const iid::SampleFacts facts = iid::facts_of(data, SAMPLES);
    d.permutation = iid::permutation_test(facts, data, rng, iid::MAX_ROUNDS, rounds);
    d.min_entropy = d.most_common_value->min_entropy;
    return d;
}

}  // namespace

SanityCheck sanity_check(const std::uint8_t* data, double h_initial) {
    SanityCheck s;
    s.alpha = restart_alpha(RESTARTS);
    s.x_cutoff = restart_cutoff(h_initial, s.alpha, RESTART_SAMPLES);
    for (std::size_t r = 0; r < RESTARTS; ++r) {
        pool::checkpoint();
        s.x_rows = std::max(s.x_rows, most_common_count(data, r * RESTART_SAMPLES, 1, RESTART_SAMPLES));
        s.x_columns = std::max(s.x_columns, most_common_count(data, r, RESTART_SAMPLES, RESTARTS));
    }
    s.x_max = std::max(s.x_rows, s.x_columns);
    s.passed = s.x_max <= s.x_cutoff;
    return s;
}

RestartTest restart_test(const std::uint8_t* data, std::size_t n, double h_initial, std::optional<unsigned> width,
                         bool iid, const iid::Seed& seed, Progress progress) {
    if (n != SAMPLES) {
        throw std::invalid_argument("the restart tests take 1000 restarts of 1000 samples, 1000000 in all, not " +
                                    std::to_string(n));
    }
    RestartTest t;
    t.samples = n;
    t.width = checked_width(data, n, width);
    if (!(h_initial > 0.0 && h_initial <= t.width)) {
        throw std::invalid_argument("h_initial must lie in (0, " + std::to_string(t.width) + "], the bits of a sample");
    }
    if (iid) iid::check_seed(seed);
    t.h_initial = h_initial;
    t.iid = iid;
    t.distinct = iid::facts_of(data, n).alphabet.k;
    t.sanity = sanity_check(data, h_initial);
    if (!t.sanity.passed) return t;  // the tool stops here, and so does the standard

    // One dataset after the other: each assessment takes the whole pool, and the
    // peak memory stays that of one.
    const std::vector<std::uint8_t> columns = columns_of(data);
    if (iid) {
        iid::Xoshiro256 rng(seed);
        t.rows = iid_assessment(data, rng, progress.finished);
        t.columns = iid_assessment(columns.data(), rng, progress.finished);
    } else {
        t.rows = non_iid_assessment(data, t.width, progress);
        // Both datasets run the same estimators: the caller's count goes on to twice the rows'.
        std::uint64_t columns_total = 0;
        if (progress.total != nullptr) {
            std::atomic_ref total(*progress.total);
            total.store(2 * total.load(std::memory_order_relaxed), std::memory_order_relaxed);
        }
        t.columns = non_iid_assessment(columns.data(), t.width, {progress.finished, &columns_total});
    }
    const double h_rows = t.rows->min_entropy, h_columns = t.columns->min_entropy;
    t.validation_passed = std::min(h_rows, h_columns) >= h_initial / 2.0;
    if (iid) t.validation_passed = t.validation_passed && t.rows->permutation->passed() && t.columns->permutation->passed();
    if (t.validation_passed) t.min_entropy = std::min({h_rows, h_columns, h_initial});
    return t;
}

}  // namespace veltrane::sp800_90b::restart
