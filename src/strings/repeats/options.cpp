#include "strings/repeats/options.hpp"

#include <cmath>
#include <stdexcept>
#include <string>

namespace veltrane::strings::repeats {

namespace {

constexpr std::string_view SAVINGS = "savings";
constexpr std::string_view COVERAGE = "coverage";

}  // namespace

Rank parse_rank(std::string_view name) {
    if (name == SAVINGS) return Rank::savings;
    if (name == COVERAGE) return Rank::coverage;
    throw std::invalid_argument("rank must be \"" + std::string(SAVINGS) + "\" or \"" + std::string(COVERAGE) +
                                "\", not \"" + std::string(name) + "\"");
}

std::string_view rank_name(Rank rank) { return rank == Rank::savings ? SAVINGS : COVERAGE; }

void validate(const Options& options) {
    if (options.min_count < 1) throw std::invalid_argument("min_count must be at least 1");
    if (options.min_length < 1) throw std::invalid_argument("min_length must be at least 1");
    if (options.max_length && *options.max_length < options.min_length) {
        throw std::invalid_argument("max_length (" + std::to_string(*options.max_length) +
                                    ") must be at least min_length (" + std::to_string(options.min_length) + ")");
    }
    if (options.min_entropy && !(*options.min_entropy >= 0.0)) {
        throw std::invalid_argument("min_entropy must be a number of bits per element, 0 or more");
    }
}

}  // namespace veltrane::strings::repeats
