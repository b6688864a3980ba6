// The core test program: every suite in turn, then one exit status for all.
//
//   veltrane_core_tests                  the short form (what the test command runs)
//   veltrane_core_tests --long           exhaustive variants as well
//   veltrane_core_tests [--long] NAME... only the named suites (core, fragment, repeats, battery, sp800_estimators,
//                                        sp800_predictors, sp800_bit_tuples, sp800_bit_predictors, sp800_restart,
//                                        sp800_restart_run, sp800_iid, bz2_length, corpus,
//                                        shared_repeats, sp800_22, sp800_22_run,
//                                        cluster_dedup, cluster_shards, gzip_index)
#include <string>
#include <utility>
#include <vector>

#include "suites.hpp"

int main(int argc, char** argv) {
    bool long_form = false;
    std::vector<std::string> wanted;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--long") {
            long_form = true;
        } else {
            wanted.push_back(arg);
        }
    }
    int failures = 0;
    for (auto [name, suite] : {std::pair{"core", &run_core_tests}, {"fragment", &run_fragment_tests},
                               {"repeats", &run_repeats_tests},
                               {"battery", &run_battery_tests},
                               {"sp800_estimators", &run_sp800_estimator_tests},
                               {"sp800_predictors", &run_sp800_predictor_tests},
                               {"sp800_restart", &run_sp800_restart_tests},
                               {"sp800_restart_run", &run_sp800_restart_run_tests},
                               {"sp800_iid", &run_sp800_iid_tests},
                               {"bz2_length", &run_bz2_length_tests},
                               {"sp800_bit_tuples", &run_sp800_bit_tuple_tests},
                               {"sp800_bit_predictors", &run_sp800_bit_predictor_tests},
                               {"corpus", &run_corpus_tests},
                               {"shared_repeats", &run_shared_repeats_tests},
                               {"sp800_22", &run_sp800_22_tests},
                               {"sp800_22_run", &run_sp800_22_run_tests},
                               {"cluster_dedup", &run_cluster_dedup_tests},
                               {"cluster_shards", &run_cluster_shard_tests},
                               {"gzip_index", &run_gzip_index_tests}}) {

        bool run = wanted.empty();
        for (const std::string& w : wanted) run = run || w == name;
        if (run) failures += suite(long_form);
    }
    return failures == 0 ? 0 : 1;
}
