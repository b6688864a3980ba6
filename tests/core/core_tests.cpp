// Unit tests of the cores that need no interpreter: pool sizing, the pool's
// helpers and the byte histogram against a naive count.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "pool/pool.hpp"
#include "pool/pool_size.hpp"
#include "util/count_bytes.hpp"

namespace {

int passed = 0, failed = 0;

#define CHECK(cond)                                                              \
    do {                                                                         \
        if (cond) {                                                              \
            ++passed;                                                            \
        } else {                                                                 \
            ++failed;                                                            \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
        }                                                                        \
    } while (0)

using veltrane::pool::parse_thread_count;

void test_parse_thread_count() {
    CHECK(parse_thread_count("4") == 4u);
    CHECK(parse_thread_count("+4") == 4u);
    CHECK(parse_thread_count("0") == 0u);
    CHECK(parse_thread_count("007") == 7u);
    CHECK(parse_thread_count("18446744073709551615") == UINT64_MAX);
    for (const char* bad : {"-1", "abc", "", "+", "++4", " 4", "4 ", "4x", "1e3", "0x10", "18446744073709551616",
                            "99999999999999999999999"}) {
        CHECK(!parse_thread_count(bad).has_value());
    }
    CHECK(!parse_thread_count(nullptr).has_value());
}

std::map<std::string, std::string> fake_env;
const char* lookup(const char* name) {
    auto it = fake_env.find(name);
    return it == fake_env.end() ? nullptr : it->second.c_str();
}
std::uint64_t three() { return 3; }

void test_choose_thread_count() {
    struct Case {
        const char* num_threads;
        const char* num_cpus;
        std::uint64_t expected;
    } cases[] = {
        {nullptr, nullptr, 3}, {"5", nullptr, 5},  {"+5", "9", 5},   {"0", "9", 3},   {"-1", "9", 9},
        {"abc", "2", 2},       {"abc", "0", 3},    {nullptr, "7", 7}, {nullptr, "x", 3}, {"70000", nullptr, 65535},
        {"18446744073709551616", "4", 4},
    };
    for (const Case& c : cases) {
        fake_env.clear();
        if (c.num_threads) fake_env["RAYON_NUM_THREADS"] = c.num_threads;
        if (c.num_cpus) fake_env["RAYON_RS_NUM_CPUS"] = c.num_cpus;
        std::uint64_t got = veltrane::pool::choose_thread_count(&lookup, &three);
        if (got != c.expected) {
            std::fprintf(stderr, "threads=%s cpus=%s: got %llu\n", c.num_threads ? c.num_threads : "(unset)",
                         c.num_cpus ? c.num_cpus : "(unset)", static_cast<unsigned long long>(got));
        }
        CHECK(got == c.expected);
    }
}

namespace fs = std::filesystem;

void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

void test_cgroup_limits() {
    fs::path base = fs::temp_directory_path() / ("veltrane-cgroup-" + std::to_string(getpid()));
    auto fresh = [&](const char* name) {
        fs::path root = base / name;
        fs::remove_all(root);
        return root;
    };
    const std::string v2_mount = "30 25 0:26 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw\n";

    fs::path root = fresh("v2-limited");
    write(root / "proc/self/cgroup", "0::/app.slice/job\n");
    write(root / "proc/self/mountinfo", v2_mount);
    write(root / "sys/fs/cgroup/app.slice/job/cpu.max", "250000 100000\n");
    CHECK(veltrane::pool::cgroup_cpu_limit(root) == 2u);

    root = fresh("v2-unlimited");
    write(root / "proc/self/cgroup", "0::/job\n");
    write(root / "proc/self/mountinfo", v2_mount);
    write(root / "sys/fs/cgroup/job/cpu.max", "max 100000\n");
    CHECK(!veltrane::pool::cgroup_cpu_limit(root).has_value());

    root = fresh("v2-below-one");
    write(root / "proc/self/cgroup", "0::/job\n");
    write(root / "proc/self/mountinfo", v2_mount);
    write(root / "sys/fs/cgroup/job/cpu.max", "20000 100000\n");
    CHECK(veltrane::pool::cgroup_cpu_limit(root) == 1u);

    root = fresh("v2-ancestor");  // the parent's quota binds the child
    write(root / "proc/self/cgroup", "0::/outer/inner\n");
    write(root / "proc/self/mountinfo", v2_mount);
    write(root / "sys/fs/cgroup/outer/cpu.max", "300000 100000\n");
    write(root / "sys/fs/cgroup/outer/inner/cpu.max", "max 100000\n");
    CHECK(veltrane::pool::cgroup_cpu_limit(root) == 3u);

    root = fresh("v1");
    write(root / "proc/self/cgroup", "4:memory:/x\n3:cpu,cpuacct:/docker/abc\n");
    write(root / "proc/self/mountinfo",
          "40 30 0:35 / /sys/fs/cgroup/cpu,cpuacct rw - cgroup cgroup rw,cpu,cpuacct\n"
          "41 30 0:36 / /sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n");
    write(root / "sys/fs/cgroup/cpu,cpuacct/docker/abc/cpu.cfs_quota_us", "400000\n");
    write(root / "sys/fs/cgroup/cpu,cpuacct/docker/abc/cpu.cfs_period_us", "100000\n");
    CHECK(veltrane::pool::cgroup_cpu_limit(root) == 4u);

    root = fresh("v1-unlimited");
    write(root / "proc/self/cgroup", "3:cpu,cpuacct:/\n");
    write(root / "proc/self/mountinfo", "40 30 0:35 / /sys/fs/cgroup/cpu rw - cgroup cgroup rw,cpu\n");
    write(root / "sys/fs/cgroup/cpu/cpu.cfs_quota_us", "-1\n");
    write(root / "sys/fs/cgroup/cpu/cpu.cfs_period_us", "100000\n");
    CHECK(!veltrane::pool::cgroup_cpu_limit(root).has_value());

    root = fresh("nothing");
    CHECK(!veltrane::pool::cgroup_cpu_limit(root).has_value());
    CHECK(veltrane::pool::default_thread_count() >= 1);
    fs::remove_all(base);
}

void test_pool_helpers() {
    for (std::size_t items : {1u, 2u, 7u, 100u, 1001u}) {
        for (std::size_t pieces = 1; pieces <= items && pieces <= 13; ++pieces) {
            std::size_t expected_begin = 0;
            bool ok = true;
            for (std::size_t p = 0; p < pieces; ++p) {
                auto [b, e] = veltrane::pool::piece_range(items, pieces, p);
                ok &= b == expected_begin && e > b;
                expected_begin = e;
            }
            CHECK(ok && expected_begin == items);
        }
    }
    // A combine that is associative but not commutative shows the pieces are joined in range order.
    std::string joined = veltrane::pool::parallel_reduce(
        std::size_t{500}, std::string(),
        [](std::string& acc, std::size_t b, std::size_t e) {
            for (std::size_t i = b; i < e; ++i) acc += std::to_string(i) + ",";
        },
        [](std::string& earlier, std::string&& later) { earlier += later; });
    std::string expected;
    for (int i = 0; i < 500; ++i) expected += std::to_string(i) + ",";
    CHECK(joined == expected);

    bool threw = false;
    try {
        veltrane::pool::run_tasks(64, [](std::size_t i) {
            if (i == 17) throw std::runtime_error("task 17");
        });
    } catch (const std::runtime_error& e) {
        threw = std::string(e.what()) == "task 17";
    }
    CHECK(threw);
    std::vector<int> hits(1000, 0);
    veltrane::pool::run_tasks(hits.size(), [&](std::size_t i) { hits[i] += 1; });
    bool each_once = true;
    for (int h : hits) each_once &= h == 1;
    CHECK(each_once);
}

veltrane::util::ByteHistogram naive_count(const std::vector<std::uint8_t>& data) {
    veltrane::util::ByteHistogram h{};
    for (std::uint8_t b : data) ++h[b];
    return h;
}

void test_count_bytes() {
    std::mt19937_64 rng(12345);
    const std::size_t sizes[] = {0, 1, 15, 16, 17, 31, 1000, 65535, 65536, 65537, 262143, 262144, 262145, 1 << 20,
                                 (1 << 20) + 12345};
    for (std::size_t n : sizes) {
        for (int kind = 0; kind < 3; ++kind) {
            std::vector<std::uint8_t> data(n);
            for (auto& b : data) {
                b = kind == 0 ? static_cast<std::uint8_t>(rng()) : kind == 1 ? 0xAB : static_cast<std::uint8_t>(rng() % 3);
            }
            auto expected = naive_count(data);
            CHECK(veltrane::util::count_bytes(data.data(), n) == expected);
            CHECK(veltrane::util::count_bytes_sequential(data.data(), n) == expected);
        }
    }
}

}  // namespace

int run_fragment_tests(bool long_form);  // fragment_tests.cpp; returns its number of failures

// `--long` runs the fragment comparisons at full size (minutes instead of seconds).
int main(int argc, char** argv) {
    const bool long_form = argc > 1 && std::string(argv[1]) == "--long";
    test_parse_thread_count();
    test_choose_thread_count();
    test_cgroup_limits();
    test_pool_helpers();
    test_count_bytes();
    std::printf("core tests: %d passed, %d failed\n", passed, failed);
    const int fragment_failures = run_fragment_tests(long_form);
    return failed == 0 && fragment_failures == 0 ? 0 : 1;
}
