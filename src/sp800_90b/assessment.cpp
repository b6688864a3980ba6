#include "sp800_90b/assessment.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "pool/cancel.hpp"
#include "pool/pool.hpp"
#include "sp800_90b/shared_tuple_sort.hpp"
#include "sp800_90b/suffix_tuples.hpp"
#include "util/count_bytes.hpp"

namespace veltrane::sp800_90b {

namespace {

util::ByteHistogram histogram(const std::uint8_t* data, std::size_t n) { return util::count_bytes(data, n); }

unsigned width_of(const util::ByteHistogram& counts) {
    unsigned largest = 0;
    for (unsigned v = 0; v < 256; ++v) {
        if (counts[v] != 0) largest = v;
    }
    unsigned width = 1;
    while ((largest >> width) != 0) ++width;
    return width;
}

// The MSB-first bits of every sample, one per byte.
std::vector<std::uint8_t> bitstring_of(const std::uint8_t* data, std::size_t n, unsigned width) {
    std::vector<std::uint8_t> bits(n * width);
    std::size_t out = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if ((i & 0xffff) == 0) pool::checkpoint();
        for (unsigned b = width; b-- > 0;) bits[out++] = static_cast<std::uint8_t>((data[i] >> b) & 1U);
    }
    return bits;
}

// One estimator on one track, or one piece of one.
struct Run {
    std::function<void()> body;
    double cost;  // rough relative run time, to start the long ones first
    // Whether it needs much memory while it runs: the tuple sort of bits (5
    // bytes a bit and more) and MultiMMC's bounded dictionaries of wide symbols
    // (28 MB). Wide symbols' tuple sort and LZ78Y take a few bytes a sample.
    bool large = false;
    bool piece = false;  // a piece of an estimator, which counts as finished elsewhere
};

// Runs one after another on one worker of the pool. The large runs share one
// task, so that the peak memory is the largest of them rather than their sum
// (on 8-bit samples the bitstring's tuple sort and the literal MultiMMC
// together came to some 80 bytes a sample); the rest are a task each.
struct Task {
    std::vector<Run*> runs;
    double cost = 0;
};

std::vector<Task> tasks_of(std::vector<Run>& runs) {
    std::vector<Task> tasks;
    Task large;
    for (Run& r : runs) {
        Task& to = r.large ? large : tasks.emplace_back();
        to.runs.push_back(&r);
        to.cost += r.cost;
    }
    if (!large.runs.empty()) tasks.push_back(std::move(large));
    std::stable_sort(tasks.begin(), tasks.end(), [](const Task& x, const Task& y) { return x.cost > y.cost; });
    return tasks;
}

double least_of(const Track& t) {
    double h = t.most_common_value.min_entropy;
    auto take = [&](double e) { h = std::min(h, e); };
    if (t.collision) take(t.collision->min_entropy);
    if (t.markov) take(t.markov->min_entropy);
    if (t.compression) take(t.compression->min_entropy);
    if (t.tuples.t_tuple) take(t.tuples.t_tuple->min_entropy);
    if (t.tuples.lrs) take(t.tuples.lrs->min_entropy);
    for (const Prediction* p : {&t.multi_mcw, &t.lag, &t.multi_mmc, &t.lz78y}) take(p->min_entropy);
    return h;
}

// Costs in nanoseconds per symbol, measured on a million samples (2-core x86):
// the longest runs start first, so that the last to finish is a short one.
// (The most common value needs no run: the samples' counts give it.)
struct Costs {
    double collision, markov, compression, tuples, multi_mcw, lag, multi_mmc, lz78y;
};
constexpr Costs BINARY_COSTS{0.3, 0.1, 0.6, 20, 0.9, 1.5, 10, 9};
// Wide symbols make the dictionary predictors the costly ones (and the tuple
// sort short: the suffixes part within a few symbols).
constexpr Costs WIDE_COSTS{0, 0, 0, 90, 60, 20, 1000, 120};

// `shared`: the tuple sort of a track of bits shared among the workers, begun
// by the first run (the longest) and finished by helpers that run last, the
// tuple estimates after them (by the caller); else the tuple estimates are one run.
void plan(std::vector<Run>& runs, Symbols s, Track& t, bool binary, SharedBitTupleSort* shared = nullptr) {
    const double n = static_cast<double>(s.n);
    const Costs& c = binary ? BINARY_COSTS : WIDE_COSTS;
    if (binary) {
        runs.push_back({[s, &t] { t.collision = collision(s); }, c.collision * n});
        runs.push_back({[s, &t] { t.markov = markov(s); }, c.markov * n});
        runs.push_back({[s, &t] { t.compression = compression(s); }, c.compression * n});
    }
    if (shared != nullptr) {
        runs.push_back({[shared] { shared->begin_and_sort(); }, c.tuples * n, false, true});
        for (std::size_t w = 0; w < pool::thread_count(); ++w) runs.push_back({[shared] { shared->help(); }, 0, false, true});
    } else {
        runs.push_back({[s, &t] { t.tuples = tuple_estimates(s); }, c.tuples * n, binary});
    }
    runs.push_back({[s, &t] { t.multi_mcw = multi_mcw(s); }, c.multi_mcw * n});
    runs.push_back({[s, &t] { t.lag = lag(s); }, c.lag * n});
    runs.push_back({[s, &t] { t.multi_mmc = multi_mmc(s); }, c.multi_mmc * n, !binary});
    runs.push_back({[s, &t] { t.lz78y = lz78y(s); }, c.lz78y * n});
}

}  // namespace

unsigned inferred_width(const std::uint8_t* data, std::size_t n) { return width_of(histogram(data, n)); }

unsigned checked_width(const std::uint8_t* data, std::size_t n, std::optional<unsigned> declared) {
    if (n == 0) throw std::invalid_argument("no samples to assess");
    if (declared && (*declared < 1 || *declared > MAX_WIDTH)) {
        throw std::invalid_argument("bits_per_symbol must be from 1 to 8, not " + std::to_string(*declared));
    }
    const auto counts = histogram(data, n);
    const unsigned needed = width_of(counts);
    if (declared && needed > *declared) {
        unsigned largest = 0;
        for (unsigned v = 0; v < 256; ++v) {
            if (counts[v] != 0) largest = v;
        }
        throw std::invalid_argument("a sample of value " + std::to_string(largest) + " does not fit in " +
                                    std::to_string(*declared) + " bits per symbol");
    }
    return declared.value_or(needed);
}

Assessment assess(const std::uint8_t* data, std::size_t n, std::optional<unsigned> declared, Progress progress,
                  Tracks tracks) {
    Assessment a;
    a.samples = n;
    a.width = checked_width(data, n, declared);
    const auto counts = histogram(data, n);

    // The literal track works on the values renumbered 0..k-1, which is what the
    // predictors' "one in k" floor and the dictionaries' alphabet mean.
    // Binary samples stay as they are: a bitstring of ones is not one of zeros.
    const bool binary = a.width == 1;
    std::array<std::uint8_t, 256> rank{};
    for (unsigned v = 0; v < 256; ++v) {
        if (counts[v] != 0) {
            rank[v] = static_cast<std::uint8_t>(a.distinct);
            a.translated = a.translated || (!binary && a.distinct != v);
            ++a.distinct;
        }
    }
    std::vector<std::uint8_t> renumbered;
    const std::uint8_t* literal = data;
    if (a.translated) {
        renumbered.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            if ((i & 0xffff) == 0) pool::checkpoint();
            renumbered[i] = rank[data[i]];
        }
        literal = renumbered.data();
    }
    // Binary samples keep an alphabet of two even when one value is missing.
    const unsigned literal_k = binary ? 2 : a.distinct;

    std::vector<std::uint8_t> bits;
    std::vector<Run> runs;
    // Binary samples: the tuple sort, the longest estimator, shared among the
    // workers, so that both finish together. (On wider samples the bitstring's
    // sort stays one run, one after MultiMMC, to keep the memory down.)
    std::optional<SharedBitTupleSort> shared;
    if (binary) shared.emplace(literal, n);
    const bool in_pieces = shared.has_value();
    plan(runs, {literal, n, literal_k}, a.literal, binary, in_pieces ? &*shared : nullptr);
    // The most common value of either track from the samples' counts: the
    // values' own, and their bits' (each value's set bits, that many times).
    a.literal.most_common_value = most_common_value_of(*std::max_element(counts.begin(), counts.end()), n);
    if (!binary && tracks == Tracks::BOTH) {
        bits = bitstring_of(data, n, a.width);
        a.bitstring.emplace();
        plan(runs, {bits.data(), bits.size(), 2}, *a.bitstring, true);
        std::uint64_t ones = 0;
        for (unsigned v = 0; v < 256; ++v) ones += counts[v] * static_cast<unsigned>(std::popcount(v));
        a.bitstring->most_common_value = most_common_value_of(std::max<std::uint64_t>(ones, bits.size() - ones), bits.size());
    }
    std::vector<Task> tasks = tasks_of(runs);
    // Every estimator counts: the runs, the tuple estimates of a shared sort,
    // and the most common values, done already.
    const std::uint64_t done = a.bitstring ? 2 : 1;
    const auto estimators = static_cast<std::uint64_t>(
        std::count_if(runs.begin(), runs.end(), [](const Run& r) { return !r.piece; }) + (in_pieces ? 1 : 0) + done);
    if (progress.total != nullptr) std::atomic_ref(*progress.total).store(estimators, std::memory_order_relaxed);
    auto finished = [&](std::uint64_t count = 1) {
        if (progress.finished != nullptr) std::atomic_ref(*progress.finished).fetch_add(count, std::memory_order_relaxed);
    };
    finished(done);
    pool::run_tasks(tasks.size(), [&](std::size_t i) {
        pool::prepare_thread();
        for (Run* r : tasks[i].runs) {
            pool::checkpoint();
            r->body();
            if (!r->piece) finished();
        }
    });
    if (in_pieces) {
        const Symbols s{literal, n, literal_k};
        std::optional<TupleCounts> counts = shared->counts();
        shared.reset();
        // too repetitive for the bit sort: the byte suffix sort
        a.literal.tuples = tuple_estimates_of(counts ? *counts : count_tuples(s, {true, false, false}), n);
        finished();
    }

    a.literal.min_entropy = least_of(a.literal);
    a.h_original = a.literal.min_entropy;
    a.min_entropy = a.h_original;
    if (a.bitstring) {
        a.bitstring->min_entropy = least_of(*a.bitstring);
        a.h_bitstring = a.bitstring->min_entropy;
        a.min_entropy = std::min(a.h_original, static_cast<double>(a.width) * *a.h_bitstring);
    }
    return a;
}

}  // namespace veltrane::sp800_90b
