#include "sp800_90b_iid/permutation_test.hpp"

#include "pool/pool.hpp"
#include "sp800_90b_iid/compression_statistic.hpp"
#include "sp800_90b_iid/rounds.hpp"

namespace veltrane::sp800_90b::iid {

PermutationTest permutation_test(const SampleFacts& facts, const std::uint8_t* raw, Xoshiro256& rng,
                                 std::uint64_t max_rounds, std::uint64_t* rounds_counted) {
    PermutationTest result;
    {
        Scratch scratch;
        compute_statistics(facts, raw, ALL_STATISTICS, result.original, scratch);
        CompressionStatistic compression;
        result.original[COMPRESSION] = compression(raw, facts.n);
    }
    if (max_rounds > 0) {
        Rounds rounds(facts, raw, rng, max_rounds, rounds_counted, result);
        pool::run_tasks(pool::thread_count(), [&](std::size_t) {
            pool::prepare_thread();
            rounds.work();
        });
        rng = Xoshiro256(rounds.counted_state());
    }
    for (unsigned s = 0; s < STATISTICS; ++s) {
        const auto& c = result.counters[s];
        if (c[0] + c[1] <= ENOUGH || c[1] + c[2] <= ENOUGH) result.failed |= bit(s);
    }
    return result;
}

}  // namespace veltrane::sp800_90b::iid
