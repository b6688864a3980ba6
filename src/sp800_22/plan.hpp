// A run checked against the standard's limits before any bit is read: the
// parameters resolved for the sequence length, the tests that can run, and
// what the caller should know (recommendations not met, tests left out,
// where the figures differ from NIST's program and why).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sp800_22/parameters.hpp"

namespace veltrane::sp800_22 {

struct Plan {
    std::uint64_t length = 0;
    std::uint32_t tests = 0;  // the tests that run (bits of catalogue.hpp's order)
    Settings settings;
    std::vector<std::string> notes;        // recommendations not met, tests left out
    std::vector<std::string> differences;  // from NIST's program, in the default mode
};

// `tests`: the tests asked for; `every`: they are all the tests because the
// caller named none, so that one the length rules out is left out (with a
// note) instead of refused. Throws std::invalid_argument naming the
// parameter, or the test, that is out of range.
Plan plan_run(std::uint64_t length, std::uint32_t tests, bool every, const Parameters& given, bool compatible);

}  // namespace veltrane::sp800_22
