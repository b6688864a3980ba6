// Unit tests of the cores that need no interpreter: pool sizing, the pool's
// helpers and cancellation, and the byte histogram against a naive count.
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "check.hpp"
#include "suites.hpp"

#include "pool/cancel.hpp"
#include "pool/pool.hpp"
#include "pool/pool_size.hpp"
#include "util/big_array.hpp"
#include "util/count_bytes.hpp"
#include "util/popcount.hpp"

namespace {

int passed = 0, failed = 0;


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
    fs::remove_all(base);
}

// The default follows the CPUs this process may run on: pinned to one, it is one.
void test_default_thread_count_follows_affinity() {
    cpu_set_t saved;
    if (sched_getaffinity(0, sizeof saved, &saved) != 0) return;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (!CPU_ISSET(cpu, &saved)) continue;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        if (sched_setaffinity(0, sizeof one, &one) != 0) return;
        CHECK(veltrane::pool::default_thread_count() == 1);
        sched_setaffinity(0, sizeof saved, &saved);
        break;
    }
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
    // Around the plain loop's limit (1024) and the 64- and 16-byte steps' tails too.
    const std::size_t sizes[] = {0, 1, 15, 16, 17, 31, 1000, 1023, 1024, 1025, 1039, 1087, 1088, 65535, 65536, 65537,
                                 262143, 262144, 262145, 1 << 20, (1 << 20) + 12345};
    for (std::size_t n : sizes) {
        for (int kind = 0; kind < 3; ++kind) {
            std::vector<std::uint8_t> data(n);
            for (auto& b : data) {
                b = kind == 0 ? static_cast<std::uint8_t>(rng()) : kind == 1 ? 0xAB : static_cast<std::uint8_t>(rng() % 3);
            }
            auto expected = naive_count(data);
            CHECK(veltrane::util::count_bytes(data.data(), n) == expected);
            CHECK(veltrane::util::count_bytes_sequential(data.data(), n) == expected);
            if (n == 0) continue;
            // From an odd address: the lanes read bytes, not aligned words.
            veltrane::util::ByteHistogram shifted{};
            veltrane::util::count_block(data.data() + 1, n - 1, shifted);
            ++shifted[data[0]];
            CHECK(shifted == expected);
        }
    }
}

// Whichever way the processor counts bits: words of every density, and the edges.
void test_popcount() {
    std::mt19937_64 rng(99);
    int wrong = 0;
    for (int i = 0; i < 20000; ++i) {
        std::uint64_t x = rng();
        for (int thin = i % 4; thin > 0; --thin) x &= rng();  // sparser words
        if (i % 7 == 0) x = ~x;
        unsigned naive = 0;
        for (int b = 0; b < 64; ++b) naive += (x >> b) & 1;
        wrong += veltrane::util::popcount64(x) != naive;
    }
    CHECK(wrong == 0);
    CHECK(veltrane::util::popcount64(0) == 0 && veltrane::util::popcount64(~std::uint64_t{0}) == 64);
    CHECK(veltrane::util::popcount64(std::uint64_t{1} << 63) == 1);
}

// Arrays on both sides of the own-mapping threshold and of huge-page
// boundaries: every element holds what was written, arrays alive together do
// not overlap, own mappings start on a 2 MiB boundary, and moving hands the
// memory over exactly once.
void test_big_array() {
    using veltrane::util::BigArray;
    constexpr std::size_t from = veltrane::util::detail::OWN_MAPPING_FROM / sizeof(std::uint32_t);
    constexpr std::size_t huge = (std::size_t{2} << 20) / sizeof(std::uint32_t);
    const std::size_t sizes[] = {0, 1, 3, from - 1, from, from + 1, huge - 1, huge, huge + 1, 3 * huge + 17};
    std::vector<BigArray<std::uint32_t>> alive;
    for (std::size_t n : sizes) alive.emplace_back(n);
    for (std::size_t k = 0; k < alive.size(); ++k) {
        CHECK(alive[k].size() == sizes[k]);
        CHECK((alive[k].data() == nullptr) == (sizes[k] == 0));
        for (std::size_t i = 0; i < sizes[k]; ++i) alive[k][i] = static_cast<std::uint32_t>(i * 2654435761u + k);
        if (sizes[k] >= from) CHECK(reinterpret_cast<std::uintptr_t>(alive[k].data()) % (std::size_t{2} << 20) == 0);
    }
    for (std::size_t k = 0; k < alive.size(); ++k) {
        bool intact = true;
        for (std::size_t i = 0; i < sizes[k]; ++i) intact = intact && alive[k][i] == static_cast<std::uint32_t>(i * 2654435761u + k);
        CHECK(intact);
    }

    BigArray<std::uint64_t> a(from + 5);
    for (std::size_t i = 0; i < a.size(); ++i) a[i] = ~std::uint64_t{i};
    const std::uint64_t* memory = a.data();
    BigArray<std::uint64_t> b(std::move(a));
    CHECK(a.size() == 0 && a.data() == nullptr);
    CHECK(b.data() == memory && b.size() == from + 5 && b[from + 4] == ~std::uint64_t{from + 4});
    BigArray<std::uint64_t> c(7);
    c = std::move(b);  // c's own small block is released, b's taken over
    CHECK(b.size() == 0 && c.data() == memory && c[0] == ~std::uint64_t{0});
    c = std::move(c);
    CHECK(c.data() == memory);
    c.reset();
    CHECK(c.size() == 0 && c.data() == nullptr);

    // A byte count that overflows, and one no kernel maps.
    for (std::size_t n : {SIZE_MAX / 4, SIZE_MAX / 16}) {
        bool refused = false;
        try {
            BigArray<std::uint64_t> too_large(n);
        } catch (const std::bad_alloc&) {
            refused = true;
        }
        CHECK(refused);
    }
}

// ---------------------------------------------------------------- cancellation

using Clock = std::chrono::steady_clock;
using veltrane::pool::Cancelled;
using veltrane::pool::InterruptScope;

// What the hooks below see and decide; a hook is a plain function pointer.
std::atomic<int> hook_calls{0};
std::atomic<int> stop_after_calls{-1};  // -1: never stop
Clock::time_point hook_stopped_at;

bool counting_hook() noexcept {
    int calls = ++hook_calls;
    int limit = stop_after_calls.load();
    if (limit >= 0 && calls > limit) {
        hook_stopped_at = Clock::now();
        return true;
    }
    return false;
}

void arm_hook(int stop_after) {
    hook_calls = 0;
    stop_after_calls = stop_after;
}

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// A task that would spin for `limit` seconds unless a checkpoint stops it.
bool spin_with_checkpoints(double limit) {
    auto start = Clock::now();
    while (seconds_since(start) < limit) veltrane::pool::checkpoint();
    return false;  // ran out its time: nobody stopped it
}

void test_cancel_mid_job() {
    if (veltrane::pool::thread_count() < 2) return;  // every piece would run on the one worker anyway
    // Tasks that would take 20 s each: only a cancelled flag ends them early.
    arm_hook(2);
    std::atomic<int> started{0}, finished{0};
    bool cancelled = false;
    auto start = Clock::now();
    {
        InterruptScope scope(&counting_hook);
        try {
            veltrane::pool::run_tasks(64, [&](std::size_t) {
                ++started;
                spin_with_checkpoints(20.0);
                ++finished;
            });
        } catch (const Cancelled&) {
            cancelled = true;
        }
    }
    double elapsed = seconds_since(start);
    CHECK(cancelled);
    CHECK(finished == 0);                                                   // every running task left at a checkpoint
    CHECK(started <= static_cast<int>(veltrane::pool::thread_count()));    // the rest were skipped
    CHECK(hook_calls == 3);                                                 // asked until it said stop, then no more
    CHECK(elapsed >= 0.1 && elapsed < 10.0);                               // polled about every 50 ms, stopped early
    CHECK(seconds_since(hook_stopped_at) < 5.0);

    // The next job starts with a clear flag, with or without a hook.
    std::vector<int> hits(500, 0);
    arm_hook(-1);
    {
        InterruptScope scope(&counting_hook);
        veltrane::pool::run_tasks(hits.size(), [&](std::size_t i) {
            veltrane::pool::checkpoint();
            hits[i] += 1;
        });
    }
    veltrane::pool::run_tasks(hits.size(), [&](std::size_t i) { hits[i] += 1; });
    bool each_twice = true;
    for (int h : hits) each_twice &= h == 2;
    CHECK(each_twice);
}

void test_cancel_without_pool_work() {
    // Work on the calling thread itself reaches the hook through checkpoint().
    arm_hook(0);
    bool cancelled = false;
    auto start = Clock::now();
    {
        InterruptScope scope(&counting_hook);
        try {
            spin_with_checkpoints(20.0);
        } catch (const Cancelled&) {
            cancelled = true;
        }
        CHECK(cancelled && hook_calls == 1);
        // A job of one task runs inline, still interruptible.
        arm_hook(0);
        cancelled = false;
        try {
            veltrane::pool::run_tasks(1, [](std::size_t) { spin_with_checkpoints(20.0); });
        } catch (const Cancelled&) {
            cancelled = true;
        }
    }
    CHECK(cancelled && hook_calls == 1);
    // The first poll only starts the interval: nothing is asked before 50 ms.
    CHECK(seconds_since(start) >= 0.1 && seconds_since(start) < 10.0);

    // Without a hook, checkpoints never throw and never block.
    bool threw = false;
    try {
        for (int i = 0; i < 1000000; ++i) veltrane::pool::checkpoint();
    } catch (const Cancelled&) {
        threw = true;
    }
    CHECK(!threw);

    // A call shorter than the interval never reaches the hook at all.
    arm_hook(0);
    {
        InterruptScope scope(&counting_hook);
        for (int i = 0; i < 100000; ++i) veltrane::pool::checkpoint();
    }
    CHECK(hook_calls <= 1);
}

void test_task_failures_with_a_hook() {
    // A hook that never stops changes nothing: the first failure still surfaces.
    arm_hook(-1);
    InterruptScope scope(&counting_hook);
    std::string message;
    try {
        veltrane::pool::run_tasks(64, [](std::size_t i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            veltrane::pool::checkpoint();
            if (i == 40) throw std::runtime_error("task 40");
        });
    } catch (const std::runtime_error& e) {
        message = e.what();
    } catch (const Cancelled&) {
        message = "cancelled";
    }
    CHECK(message == "task 40");
    std::vector<std::uint8_t> data(3 << 20);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 131 + (i >> 12));
    CHECK(veltrane::util::count_bytes(data.data(), data.size()) == naive_count(data));
}

// A hook that calls back into the pool, as a signal handler may do through the
// module: its job runs inline instead of waiting behind the one in progress.
std::atomic<int> nested_sum{0};
bool reentrant_hook() noexcept {
    std::atomic<int> sum{0};
    veltrane::pool::run_tasks(10, [&](std::size_t i) { sum += static_cast<int>(i); });
    nested_sum += sum;
    return false;
}

void test_reentrant_hook() {
    if (veltrane::pool::thread_count() < 2) return;
    nested_sum = 0;
    InterruptScope scope(&reentrant_hook);
    veltrane::pool::run_tasks(4, [](std::size_t) { std::this_thread::sleep_for(std::chrono::milliseconds(300)); });
    CHECK(nested_sum >= 45 && nested_sum % 45 == 0);
}

void test_cancel_a_histogram() {
    // 256 MiB counted while the hook stops the call: Cancelled, never a partial result.
    std::vector<std::uint8_t> data(std::size_t{256} << 20, 7);
    arm_hook(0);
    bool cancelled = false;
    int rounds = 0;
    {
        InterruptScope scope(&counting_hook);
        try {
            // Repeat until one poll falls inside a count (each takes tens of ms).
            for (; rounds < 1000; ++rounds) veltrane::util::count_bytes(data.data(), data.size());
        } catch (const Cancelled&) {
            cancelled = true;
        }
    }
    CHECK(cancelled && rounds < 1000);
    auto counts = veltrane::util::count_bytes(data.data(), data.size());
    CHECK(counts[7] == data.size());
}

// Jobs of several calling threads: each gets exact results, whatever else runs.
void test_concurrent_jobs() {
    constexpr int CALLERS = 6;
    std::atomic<int> wrong{0};
    std::vector<std::thread> callers;
    for (int c = 0; c < CALLERS; ++c) {
        callers.emplace_back([c, &wrong] {
            for (int round = 0; round < 40; ++round) {
                const std::size_t tasks = 1 + static_cast<std::size_t>((c * 7 + round) % 23);
                std::vector<std::size_t> seen(tasks, 0);
                veltrane::pool::run_tasks(tasks, [&](std::size_t i) { seen[i] += i + 1; });
                for (std::size_t i = 0; i < tasks; ++i) wrong += seen[i] != i + 1;
            }
        });
    }
    for (auto& t : callers) t.join();
    CHECK(wrong == 0);
}

// A caller whose interrupt hook cannot return yet (it waits for the interpreter
// lock, say, which a second caller holds while that one waits for its own job)
// must not keep the second caller's job from running.
std::atomic<bool> other_job_done{false};
bool hook_waiting_for_other_caller() noexcept {
    for (int i = 0; i < 400 && !other_job_done.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return false;
}

void test_a_blocked_caller_does_not_block_others() {
    other_job_done = false;
    std::thread first([] {
        InterruptScope scope(&hook_waiting_for_other_caller);
        // Long enough for the hook to be asked while the job runs.
        veltrane::pool::run_tasks(4, [](std::size_t) { std::this_thread::sleep_for(std::chrono::milliseconds(80)); });
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(120));  // the first caller is in its hook now
    const auto begin = std::chrono::steady_clock::now();
    std::atomic<int> sum{0};
    veltrane::pool::run_tasks(8, [&](std::size_t i) { sum += static_cast<int>(i); });
    const auto waited = std::chrono::steady_clock::now() - begin;
    other_job_done = true;
    first.join();
    CHECK(sum == 28);
    // Before, the second job queued behind the first, whose caller only left its
    // hook after 2 s: the second caller waited all that time.
    CHECK(waited < std::chrono::milliseconds(1000));
}

}  // namespace


// `--long` runs the fragment comparisons at full size (minutes instead of seconds).
int run_core_tests(bool /*long_form*/) {
    test_parse_thread_count();
    test_choose_thread_count();
    test_cgroup_limits();
    test_default_thread_count_follows_affinity();
    test_pool_helpers();
    test_count_bytes();
    test_popcount();
    test_big_array();
    test_cancel_mid_job();
    test_cancel_without_pool_work();
    test_task_failures_with_a_hook();
    test_reentrant_hook();
    test_cancel_a_histogram();
    test_concurrent_jobs();
    test_a_blocked_caller_does_not_block_others();
    std::printf("core tests: %d passed, %d failed\n", passed, failed);
    return failed;
}
