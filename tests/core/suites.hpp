// The suites of the core test program. Each lives in its own file, counts its own
// checks, prints one summary line and returns its number of failures; `long_form`
// asks for the slow, exhaustive variants (veltrane_core_tests --long).
#pragma once

int run_core_tests(bool long_form);      // core_tests.cpp: pool, cancellation, histogram
int run_fragment_tests(bool long_form);  // fragment_tests.cpp: the fragment search and its structures
int run_battery_tests(bool long_form);   // battery_tests.cpp: the randomness battery and the window profile
int run_repeats_tests(bool long_form);   // repeats_tests.cpp: the repeats search against its model
int run_sp800_estimator_tests(bool long_form);  // sp800_estimator_tests.cpp: MCV, collision, Markov, compression, tuples
int run_sp800_predictor_tests(bool long_form);  // sp800_predictor_tests.cpp: the four predictors and their bounds
int run_sp800_restart_tests(bool long_form);    // sp800_restart_tests.cpp: the restart sanity check's alpha and cutoff
int run_sp800_iid_tests(bool long_form);  // sp800_iid_tests.cpp: the IID track: generator, statistics, permutation test, recorded runs
int run_sp800_restart_run_tests(bool long_form);  // sp800_restart_run_tests.cpp: the restart tests as a whole, recorded runs
int run_bz2_length_tests(bool long_form);  // bz2_length_tests.cpp: libbz2's output length, against the library
int run_bz2_stage_tests(bool long_form);   // bz2_stage_tests.cpp: its stages against a plain model (run by the above)
int run_bz2_rotation_tests(bool long_form);  // bz2_rotation_tests.cpp: its rotation sort (run by the above)
int run_sp800_bit_tuple_tests(bool long_form);  // sp800_bit_tuple_tests.cpp: the tuple counts' ways made for bits
int run_sp800_bit_predictor_tests(bool long_form);  // sp800_bit_predictor_tests.cpp: the predictors' ways made for bits
int run_corpus_tests(bool long_form);  // corpus_tests.cpp: deduplication against its byte-by-byte model
int run_shared_repeats_tests(bool long_form);  // shared_repeats_tests.cpp: what documents share, every search path
int run_sp800_22_tests(bool long_form);  // sp800_22_tests.cpp: SP 800-22's tests, worked examples and plain models
int run_sp800_22_run_tests(bool long_form);  // sp800_22_run_tests.cpp: its probabilities, transforms, runs, second level, limits
int run_cluster_dedup_tests(bool long_form);  // cluster_dedup_tests.cpp: deduplication on a cluster, simulated, against the engine
int run_cluster_shard_tests(bool long_form);  // cluster_shard_tests.cpp: a cluster run's costs and a shard's text between steps
int run_gzip_index_tests(bool long_form);  // gzip_index_tests.cpp: the gzip checkpoint index and its reader, against zlib-built files
