#include "sp800_22/battery.hpp"

#include <atomic>
#include <memory>
#include <mutex>

#include "pool/pool.hpp"
#include "sp800_22/excursions.hpp"
#include "sp800_22/frequency_tests.hpp"
#include "sp800_22/linear_complexity.hpp"
#include "sp800_22/longest_run.hpp"
#include "sp800_22/rank.hpp"
#include "sp800_22/serial.hpp"
#include "sp800_22/spectral.hpp"
#include "sp800_22/templates.hpp"
#include "sp800_22/universal.hpp"

namespace veltrane::sp800_22 {

namespace {

// The pieces of work a sequence is cut into, the longest first so that the
// pool's last tasks are short ones. The two random excursions tests share
// one walk.
enum class Job {
    dft,
    linear_complexity,
    non_overlapping_template,
    serial,
    approximate_entropy,
    universal,
    excursions,
    rank,
    longest_run,
    overlapping_template,
    cumulative_sums,
    block_frequency,
    runs,
    frequency,
};

constexpr Job JOB_ORDER[] = {Job::dft, Job::linear_complexity, Job::non_overlapping_template, Job::serial,
                             Job::approximate_entropy, Job::universal, Job::excursions, Job::rank,
                             Job::longest_run, Job::overlapping_template, Job::cumulative_sums,
                             Job::block_frequency, Job::runs, Job::frequency};

std::uint32_t tests_of(Job job) {
    switch (job) {
    case Job::dft: return bit_of(Test::dft);
    case Job::linear_complexity: return bit_of(Test::linear_complexity);
    case Job::non_overlapping_template: return bit_of(Test::non_overlapping_template);
    case Job::serial: return bit_of(Test::serial);
    case Job::approximate_entropy: return bit_of(Test::approximate_entropy);
    case Job::universal: return bit_of(Test::universal);
    case Job::excursions: return bit_of(Test::random_excursions) | bit_of(Test::random_excursions_variant);
    case Job::rank: return bit_of(Test::rank);
    case Job::longest_run: return bit_of(Test::longest_run);
    case Job::overlapping_template: return bit_of(Test::overlapping_template);
    case Job::cumulative_sums: return bit_of(Test::cumulative_sums);
    case Job::block_frequency: return bit_of(Test::block_frequency);
    case Job::runs: return bit_of(Test::runs);
    case Job::frequency: return bit_of(Test::frequency);
    }
    return 0;
}

std::vector<Job> jobs_of(std::uint32_t tests) {
    std::vector<Job> jobs;
    for (Job job : JOB_ORDER) {
        if (tests & tests_of(job)) jobs.push_back(job);
    }
    return jobs;
}

// The transform plan of the last length asked for, shared by every thread
// and by consecutive calls (building it costs as much as a few transforms).
std::shared_ptr<const RealSpectrum> spectrum_for(std::uint64_t n) {
    static std::mutex lock;
    static std::shared_ptr<const RealSpectrum> last;
    std::lock_guard<std::mutex> hold(lock);
    if (!last || last->size() != n) last = std::make_shared<const RealSpectrum>(n);
    return last;
}

void run_job(Job job, const Plan& plan, const Bits& bits, const RealSpectrum* spectrum, SequenceFigures& out) {
    const Parameters& p = plan.settings.parameters;
    const bool compatible = plan.settings.compatible;
    switch (job) {
    case Job::dft: out.dft = dft_test(bits, *spectrum); break;
    case Job::linear_complexity:
        out.linear_complexity = linear_complexity_test(bits, p.linear_complexity_block_length, compatible);
        break;
    case Job::non_overlapping_template:
        out.non_overlapping_template =
            non_overlapping_test(bits, p.non_overlapping_template_length, p.non_overlapping_blocks, compatible);
        break;
    case Job::serial: out.serial = serial_test(bits, p.serial_block_length); break;
    case Job::approximate_entropy:
        out.approximate_entropy = approximate_entropy_test(bits, p.approximate_entropy_block_length);
        break;
    case Job::universal:
        if (p.universal_block_length == 0) {
            out.universal = UniversalFigures{.applicable = false};
        } else {
            out.universal = universal_test(bits, p.universal_block_length, p.universal_initial_blocks);
        }
        break;
    case Job::excursions: {
        Excursions e = excursion_tests(bits, compatible);
        if (plan.tests & bit_of(Test::random_excursions)) out.random_excursions = e.excursions;
        if (plan.tests & bit_of(Test::random_excursions_variant)) out.random_excursions_variant = e.variant;
        break;
    }
    case Job::rank: out.rank = rank_test(bits); break;
    case Job::longest_run: out.longest_run = longest_run_test(bits, p.longest_run_block_length, compatible); break;
    case Job::overlapping_template:
        out.overlapping_template =
            overlapping_test(bits, p.overlapping_template_length, p.overlapping_block_length, compatible);
        break;
    case Job::cumulative_sums: out.cumulative_sums = cumulative_sums_test(bits); break;
    case Job::block_frequency:
        out.block_frequency = block_frequency_test(bits, p.block_frequency_block_length);
        break;
    case Job::runs: out.runs = runs_test(bits); break;
    case Job::frequency: out.frequency = frequency_test(bits); break;
    }
}

}  // namespace

std::uint64_t input_bits(const Input& input) {
    return input.ascii ? ascii_digits(input.data, input.size) : std::uint64_t{8} * input.size;
}

SequenceFigures test_sequence(const Plan& plan, const Bits& bits) {
    SequenceFigures out;
    out.ones = bits.ones();
    const std::shared_ptr<const RealSpectrum> spectrum =
        plan.tests & bit_of(Test::dft) ? spectrum_for(bits.size()) : nullptr;
    for (Job job : jobs_of(plan.tests)) run_job(job, plan, bits, spectrum.get(), out);
    return out;
}

std::vector<SequenceFigures> run_sequences(const Plan& plan, const Input& input, std::uint64_t& position,
                                           std::uint64_t count, std::uint64_t* finished) {
    const std::uint64_t n = plan.length;
    std::vector<Bits> bits(count);
    if (input.ascii) {
        for (Bits& b : bits) position = bits_from_ascii(input.data, input.size, position, n, b);
    } else {
        const std::uint64_t first = position;
        pool::run_tasks(count, [&](std::size_t i) { bits[i] = bits_from_bytes(input.data, first + i * n, n); });
        position += count * n;
    }
    std::vector<SequenceFigures> out(count);
    const std::vector<Job> jobs = jobs_of(plan.tests);
    const std::shared_ptr<const RealSpectrum> spectrum = plan.tests & bit_of(Test::dft) ? spectrum_for(n) : nullptr;
    std::unique_ptr<std::atomic<std::size_t>[]> left(new std::atomic<std::size_t>[count]);
    for (std::uint64_t s = 0; s < count; ++s) left[s] = jobs.size() + 1;
    auto one_done = [&](std::uint64_t s) {
        if (left[s].fetch_sub(1) == 1 && finished != nullptr) std::atomic_ref<std::uint64_t>(*finished).fetch_add(1);
    };
    // Task t: job t / count of sequence t % count, so that the long jobs of
    // every sequence come first. A sequence's last piece is its count of ones.
    pool::run_tasks((jobs.size() + 1) * count, [&](std::size_t t) {
        const std::size_t s = t % count, j = t / count;
        if (j < jobs.size()) {
            run_job(jobs[j], plan, bits[s], spectrum.get(), out[s]);
        } else {
            out[s].ones = bits[s].ones();
        }
        one_done(s);
    });
    return out;
}

}  // namespace veltrane::sp800_22
