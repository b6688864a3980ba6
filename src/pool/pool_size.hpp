// How many threads the worker pool starts with.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace veltrane::pool {

inline constexpr std::uint64_t MAX_THREADS = 65535;

// A thread count as the environment gives it: an optional leading "+", then
// decimal digits only, fitting in 64 bits. Anything else is not a number.
std::optional<std::uint64_t> parse_thread_count(const char* text);

// The CPU quota of the process's cgroup in whole CPUs (at least 1), if one is
// set. `root` stands for "/" so that tests can lay out their own /proc and /sys.
std::optional<std::uint64_t> cgroup_cpu_limit(const std::filesystem::path& root);

// The CPUs the process may run on (affinity mask, else online CPUs), lowered
// to the cgroup quota; 1 if nothing can be determined.
std::uint64_t default_thread_count();

// RAYON_NUM_THREADS, then RAYON_RS_NUM_CPUS, then the default; capped at MAX_THREADS.
// `env` looks a variable up (std::getenv in production); `fallback` gives the default.
std::uint64_t choose_thread_count(const char* (*env)(const char*), std::uint64_t (*fallback)());

}  // namespace veltrane::pool
