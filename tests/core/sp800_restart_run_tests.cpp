// The restart tests as a whole: the sanity check's counts against plain loops
// over rows and columns, the validation's datasets, NIST's two recorded runs
// and the refusals.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "check.hpp"
#include "suites.hpp"

#include "sp800_90b_restart/restart.hpp"
#include "sp800_90b_restart/restart_cutoff.hpp"

namespace {

namespace rs = veltrane::sp800_90b::restart;
using Bytes = std::vector<std::uint8_t>;

int passed = 0, failed = 0;

std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

double figure(const std::string& text, const std::string& label, std::size_t from = 0) {
    const std::size_t at = text.find(label, from);
    return at == std::string::npos ? std::nan("") : std::stod(text.substr(at + label.size()));
}

bool close(double ours, double theirs) { return std::fabs(ours - theirs) <= 1e-10 * std::fabs(theirs); }

// The largest count of one value over each row and each column, planted
// somewhere random on top of uniform noise.
void check_sanity_counts(std::mt19937_64& rng) {
    for (int round = 0; round < 4; ++round) {
        Bytes data(1000000);
        for (auto& x : data) x = static_cast<std::uint8_t>(rng() % 64);
        const std::size_t row = rng() % 1000, column = rng() % 1000;
        for (std::size_t j = 0; j < 1000; j += 1 + round) data[row * 1000 + j] = 7;
        for (std::size_t i = 0; i < 1000; i += 2 + round) data[i * 1000 + column] = 9;
        std::uint64_t x_rows = 0, x_columns = 0;
        for (std::size_t i = 0; i < 1000; ++i) {
            std::vector<std::uint64_t> in_row(256), in_column(256);
            for (std::size_t j = 0; j < 1000; ++j) {
                ++in_row[data[i * 1000 + j]];
                ++in_column[data[j * 1000 + i]];
            }
            x_rows = std::max(x_rows, *std::max_element(in_row.begin(), in_row.end()));
            x_columns = std::max(x_columns, *std::max_element(in_column.begin(), in_column.end()));
        }
        const rs::SanityCheck s = rs::sanity_check(data.data(), 5.0);
        CHECK(s.x_rows == x_rows && s.x_columns == x_columns && s.x_max == std::max(x_rows, x_columns));
        CHECK(s.x_cutoff == veltrane::sp800_90b::restart_cutoff(5.0, s.alpha) && s.passed == (s.x_max <= s.x_cutoff));
    }
}

void check_recorded_runs() {
    const std::string dir = std::string(VELTRANE_TEST_DATA) + "/sp800_90b_iid/";
    {
        const std::string raw = read(dir + "restart4.bin"), res = read(dir + "restart4.restart-n.res");
        const Bytes data(raw.begin(), raw.end());
        const rs::RestartTest t = rs::restart_test(data.data(), data.size(), 3.0, 4, false, {});
        // The tool's 179 is its simulation's; the exact quantile is 178.
        CHECK(t.sanity.x_cutoff == 178 && t.sanity.x_max == figure(res, "X_max: ") && t.sanity.passed);
        CHECK(t.sanity.alpha == figure(res, "ALPHA: "));
        CHECK(t.rows && t.columns && t.passed() && t.min_entropy == 3.0);
        if (t.rows && t.columns) {
            const auto& r = t.rows->non_iid->literal;
            const auto& c = t.columns->non_iid->literal;
            CHECK(!t.rows->non_iid->bitstring && !t.columns->non_iid->bitstring);
            CHECK(r.tuples.t_tuple && c.tuples.t_tuple && r.tuples.lrs && c.tuples.lrs);
            const std::size_t cols = res.find("Literal t-Tuple Estimate", res.find("Literal t-Tuple Estimate") + 1);
            CHECK(close(r.tuples.t_tuple->p_hat_max, figure(res, "p-hat_max = ")) &&
                  close(c.tuples.t_tuple->p_hat_max, figure(res, "p-hat_max = ", cols)));
            CHECK(r.tuples.lrs->v == figure(res, "v = ") && c.tuples.lrs->v == figure(res, "v = ", cols));
            CHECK(r.multi_mcw.c == figure(res, "(C = "));
            // H_r and H_c are printed to six decimals.
            CHECK(std::fabs(t.rows->min_entropy - figure(res, "H_r: ")) < 5e-7 &&
                  std::fabs(t.columns->min_entropy - figure(res, "H_c: ")) < 5e-7);
        }
    }
    {
        const std::string raw = read(dir + "restart_bad1.bin"), res = read(dir + "restart_bad1.restart-n.res");
        const Bytes data(raw.begin(), raw.end());
        const rs::RestartTest t = rs::restart_test(data.data(), data.size(), 0.9, 1, false, {});
        CHECK(t.sanity.x_cutoff == figure(res, "X_cutoff: ") && t.sanity.x_max == figure(res, "X_max: "));
        CHECK(!t.sanity.passed && !t.rows && !t.columns && !t.passed() && !t.min_entropy);
    }
}

void check_refusals() {
    auto refused = [](auto&& call) {
        try {
            call();
        } catch (const std::invalid_argument&) {
            return true;
        }
        return false;
    };
    const Bytes short_data(999999, 1), data(1000000, 1);
    veltrane::sp800_90b::iid::Seed zero{};
    CHECK(refused([&] { rs::restart_test(short_data.data(), short_data.size(), 0.5, 1, false, zero); }));
    CHECK(refused([&] { rs::restart_test(data.data(), data.size(), 0.0, 1, false, zero); }));
    CHECK(refused([&] { rs::restart_test(data.data(), data.size(), 1.5, 1, false, zero); }));
    CHECK(refused([&] { rs::restart_test(data.data(), data.size(), std::nan(""), 1, false, zero); }));
    CHECK(refused([&] { rs::restart_test(data.data(), data.size(), 0.5, 1, true, zero); }));
}

}  // namespace

int run_sp800_restart_run_tests(bool) {
    passed = failed = 0;
    std::mt19937_64 rng(31415);
    check_sanity_counts(rng);
    check_recorded_runs();
    check_refusals();
    std::printf("sp800_restart_run: %d passed, %d failed\n", passed, failed);
    return failed;
}
