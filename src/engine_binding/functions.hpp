// The engine's functions, one table per area; the module adds them all.
#pragma once

#include <Python.h>

namespace veltrane::engine {

// Each table ends with a {nullptr} entry.
extern PyMethodDef BATTERY_FUNCTIONS[];  // battery.cpp: the randomness battery and the window profile
extern PyMethodDef REPEATS_FUNCTIONS[];  // repeats.cpp: the repeats search, the longest run of one byte
extern PyMethodDef SP800_90B_FUNCTIONS[];  // sp800_90b.cpp: the SP 800-90B non-IID assessment
extern PyMethodDef SP800_90B_IID_FUNCTIONS[];  // sp800_90b_iid.cpp: the SP 800-90B IID track
extern PyMethodDef SP800_90B_RESTART_FUNCTIONS[];  // sp800_90b_restart.cpp: the SP 800-90B restart tests
extern PyMethodDef CORPUS_FUNCTIONS[];  // corpus.cpp: what documents share, exact deduplication
extern PyMethodDef SP800_22_FUNCTIONS[];  // sp800_22.cpp: the SP 800-22 tests and their second level
extern PyMethodDef CLUSTER_DEDUP_FUNCTIONS[];  // cluster_dedup.cpp: the shards' steps of a deduplication on a cluster
extern PyMethodDef CLUSTER_PARTITION_FUNCTIONS[];  // cluster_partitions.cpp: its partitions' steps

// The gzip index's two types; each returns -1 with an exception set on failure.
int add_gzip_survey_type(PyObject* module);  // gzip_survey.cpp: GzipSurvey, the pass that finds checkpoints
int add_gzip_reader_type(PyObject* module);  // gzip_reader.cpp: GzipReader, inflating from a checkpoint

}  // namespace veltrane::engine
