#include "battery/profile.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "pool/cancel.hpp"
#include "pool/pool.hpp"
#include "shannon_entropy/func.hpp"
#include "shannon_entropy/measures.hpp"
#include "util/count_bytes.hpp"

namespace veltrane::battery {

namespace {

// The term table costs W + 1 log2 calls and 8 (W + 1) bytes; it is built when
// the windows would make more log2 calls than that, and W is not huge.
constexpr std::uint64_t MAX_TABLE_WINDOW = std::uint64_t{1} << 22;
// Windows between two checkpoints.
constexpr std::size_t CHECKPOINT_WINDOWS = 256;
// Below this many windows x bytes per window the pool is not worth waking.
constexpr std::uint64_t PARALLEL_WORK = 1 << 18;

// The measure of a window of W bytes from its entropy.
class Finisher {
public:
    Finisher(WindowMeasure measure, std::uint64_t window)
        : measure_(measure), window_(window),
          expected_(window < 2 ? 0.0 : shannon_entropy::expected_random_entropy(window)) {}
    double operator()(double h) const {
        if (measure_ == WindowMeasure::metric) return h * 0.125;
        return window_ < 2 ? 0.0 : shannon_entropy::normalize_entropy_by(h, expected_);
    }

private:
    WindowMeasure measure_;
    std::uint64_t window_;
    double expected_;
};

}  // namespace

std::vector<std::uint64_t> window_starts(std::uint64_t size, std::uint64_t window, std::uint64_t step) {
    if (window == 0 || step == 0) throw std::invalid_argument(WINDOW_STEP_MESSAGE);
    std::vector<std::uint64_t> starts;
    if (size == 0) return starts;
    if (size <= window) {
        starts.push_back(0);
        return starts;
    }
    const std::uint64_t last = size - window;
    starts.reserve(last / step + 2);
    for (std::uint64_t s = 0;; s += step) {
        starts.push_back(s);
        if (last - s < step) break;
    }
    if (starts.back() != last) starts.push_back(last);
    return starts;
}

Profile entropy_profile(const std::uint8_t* data, std::size_t n, std::size_t window, std::size_t step,
                        WindowMeasure measure) {
    Profile profile;
    profile.offsets = window_starts(n, window, step);
    const std::size_t windows = profile.offsets.size();
    profile.values.resize(windows);
    if (windows == 0) return profile;
    if (n <= window) {
        // One window shorter than W (or exactly W): measured as the buffer it is.
        const double h = shannon_entropy::entropy(data, n);
        profile.values[0] = measure == WindowMeasure::metric ? h * 0.125 : shannon_entropy::normalize_entropy(h, n);
        return profile;
    }

    const Finisher finish(measure, window);
    const bool use_table = window <= MAX_TABLE_WINDOW && window + 1 <= windows * std::uint64_t{256};
    std::vector<double> terms;
    if (use_table) {
        // term(c) exactly as entropy_of_counts computes it; term(0) = +0.0, and
        // subtracting +0.0 changes nothing, not even the sign of -0.0, so the
        // lookups need not skip empty bins.
        terms.resize(window + 1);
        const double total = static_cast<double>(window);
        terms[0] = 0.0;
        for (std::size_t c = 1; c <= window; ++c) {
            const double p = static_cast<double>(c) / total;
            terms[c] = std::log2(p) * p;
        }
    }

    const std::uint64_t* starts = profile.offsets.data();
    double* values = profile.values.data();
    // One sliding histogram over windows [next, end).
    struct Slider {
        util::ByteHistogram counts{};
        std::size_t first = 0, next = 0, end = 0;
        bool active() const { return next < end; }
    };
    auto advance = [&](Slider& s) {
        const std::size_t w = s.next;
        const std::uint64_t moved = w == s.first ? window : starts[w] - starts[w - 1];
        if (moved < window) {
            const std::uint8_t* leaving = data + starts[w - 1];
            const std::uint8_t* entering = leaving + window;
            for (std::uint64_t i = 0; i < moved; ++i) {
                --s.counts[leaving[i]];
                ++s.counts[entering[i]];
            }
        } else {
            s.counts = util::count_bytes_sequential(data + starts[w], window);
        }
    };
    auto entropy_of = [&](const Slider& s) {
        if (!use_table) return shannon_entropy::entropy_of_counts(s.counts.data(), s.counts.size(), window);
        double h = -0.0;
        for (std::size_t v = 0; v < 256; ++v) h = h - terms[s.counts[v]];
        return h;
    };
    // A range of windows is cut into SLIDERS runs advanced side by side: each
    // window's 256 subtractions form one chain of dependent additions, and
    // four independent chains keep the floating-point units busy where one
    // would wait on each result. Every chain is still summed in bin order.
    constexpr std::size_t SLIDERS = 4;
    auto run_range = [&](std::size_t first, std::size_t last) {
        Slider sliders[SLIDERS];
        for (std::size_t j = 0; j < SLIDERS; ++j) {
            auto [b, e] = pool::piece_range(last - first, SLIDERS, j);
            sliders[j].first = sliders[j].next = first + b;
            sliders[j].end = first + e;
        }
        for (std::size_t round = 0; sliders[0].active(); ++round) {
            if (round % CHECKPOINT_WINDOWS == 0) pool::checkpoint();
            bool all = true;
            for (Slider& s : sliders) {
                if (s.active()) {
                    advance(s);
                } else {
                    all = false;
                }
            }
            if (all && use_table) {
                double h0 = -0.0, h1 = -0.0, h2 = -0.0, h3 = -0.0;
                const auto &c0 = sliders[0].counts, &c1 = sliders[1].counts, &c2 = sliders[2].counts,
                           &c3 = sliders[3].counts;
                for (std::size_t v = 0; v < 256; ++v) {
                    h0 = h0 - terms[c0[v]];
                    h1 = h1 - terms[c1[v]];
                    h2 = h2 - terms[c2[v]];
                    h3 = h3 - terms[c3[v]];
                }
                const double h[SLIDERS] = {h0, h1, h2, h3};
                for (std::size_t j = 0; j < SLIDERS; ++j) values[sliders[j].next++] = finish(h[j]);
            } else {
                for (Slider& s : sliders) {
                    if (s.active()) values[s.next++] = finish(entropy_of(s));
                }
            }
        }
    };

    const std::uint64_t work = windows * std::min<std::uint64_t>(step, window) + windows * 256;
    const std::size_t pieces = work < PARALLEL_WORK ? 1 : pool::piece_count(windows);
    if (pieces <= 1) {
        run_range(0, windows);
    } else {
        pool::run_tasks(pieces, [&](std::size_t p) {
            auto [first, last] = pool::piece_range(windows, pieces, p);
            run_range(first, last);
        });
    }
    return profile;
}

}  // namespace veltrane::battery
