#include "pool_size.hpp"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

namespace veltrane::pool {

std::optional<std::uint64_t> parse_thread_count(const char* text) {
    if (text == nullptr) return std::nullopt;
    std::string_view s(text);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

namespace {

std::optional<std::string> read_file(const std::filesystem::path& path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> split(std::string_view text, char sep) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find(sep, start);
        parts.emplace_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

std::optional<std::uint64_t> to_number(std::string_view s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.remove_suffix(1);
    if (s.empty() || s.front() == '+') return std::nullopt;
    return parse_thread_count(std::string(s).c_str());
}

// Where a cgroup hierarchy is mounted: (mount point, root of the mount within
// the hierarchy), from /proc/self/mountinfo. For v1 only a hierarchy that has the
// "cpu" controller among its super options counts.
std::optional<std::pair<std::string, std::string>> find_mount(const std::string& mountinfo, bool v2) {
    for (const std::string& line : split(mountinfo, '\n')) {
        std::size_t dash = line.find(" - ");
        if (dash == std::string::npos) continue;
        std::vector<std::string> head = split(std::string_view(line).substr(0, dash), ' ');
        std::vector<std::string> tail = split(std::string_view(line).substr(dash + 3), ' ');
        if (head.size() < 5 || tail.size() < 3) continue;
        if (v2 ? tail[0] != "cgroup2" : tail[0] != "cgroup") continue;
        if (!v2) {
            bool has_cpu = false;
            for (const std::string& opt : split(tail[2], ',')) has_cpu |= opt == "cpu";
            if (!has_cpu) continue;
        }
        return std::make_pair(head[4], head[3]);
    }
    return std::nullopt;
}

// The quota of one cgroup directory, if set.
std::optional<std::uint64_t> quota_in(const std::filesystem::path& dir, bool v2) {
    std::optional<std::uint64_t> quota, period;
    if (v2) {
        auto text = read_file(dir / "cpu.max");
        if (!text) return std::nullopt;
        auto fields = split(*text, ' ');
        if (fields.size() < 2) return std::nullopt;
        quota = to_number(fields[0]);  // "max" means no limit
        period = to_number(fields[1]);
    } else {
        auto q = read_file(dir / "cpu.cfs_quota_us");
        auto p = read_file(dir / "cpu.cfs_period_us");
        if (!q || !p) return std::nullopt;
        quota = to_number(*q);  // -1 means no limit
        period = to_number(*p);
    }
    if (!quota || !period || *period == 0) return std::nullopt;
    return std::max<std::uint64_t>(1, *quota / *period);
}

}  // namespace

std::optional<std::uint64_t> cgroup_cpu_limit(const std::filesystem::path& root) {
    auto cgroups = read_file(root / "proc/self/cgroup");
    auto mountinfo = read_file(root / "proc/self/mountinfo");
    if (!cgroups || !mountinfo) return std::nullopt;
    for (const std::string& line : split(*cgroups, '\n')) {
        // "hierarchy-ID:controllers:path"; v2 has ID 0 and no controllers.
        std::size_t first = line.find(':');
        std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) continue;
        std::string id = line.substr(0, first);
        std::string controllers = line.substr(first + 1, second - first - 1);
        std::string path = line.substr(second + 1);
        bool v2 = id == "0" && controllers.empty();
        if (!v2) {
            bool has_cpu = false;
            for (const std::string& c : split(controllers, ',')) has_cpu |= c == "cpu";
            if (!has_cpu) continue;
        }
        auto mount = find_mount(*mountinfo, v2);
        if (!mount) continue;
        auto [mount_point, mount_root] = *mount;
        // The cgroup's path is relative to the hierarchy; the mount shows it from mount_root on.
        std::string relative = path;
        if (mount_root != "/" && relative.rfind(mount_root, 0) == 0) relative = relative.substr(mount_root.size());
        std::filesystem::path base = root / std::filesystem::path(mount_point).relative_path();
        std::filesystem::path dir = base / std::filesystem::path(relative).relative_path();
        // A quota set on any ancestor limits this group too: take the smallest.
        std::optional<std::uint64_t> limit;
        for (;;) {
            if (auto q = quota_in(dir, v2)) limit = limit ? std::min(*limit, *q) : *q;
            if (dir == base || !dir.has_parent_path() || dir.parent_path() == dir) break;
            dir = dir.parent_path();
        }
        if (limit) return limit;
    }
    return std::nullopt;
}

std::uint64_t default_thread_count() {
    std::uint64_t cpus = 0;
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        cpus = static_cast<std::uint64_t>(CPU_COUNT(&set));
    } else {
        long online = sysconf(_SC_NPROCESSORS_ONLN);
        if (online > 0) cpus = static_cast<std::uint64_t>(online);
    }
    if (cpus == 0) return 1;
    if (auto limit = cgroup_cpu_limit("/")) cpus = std::min(cpus, *limit);
    return std::max<std::uint64_t>(cpus, 1);
}

std::uint64_t choose_thread_count(const char* (*env)(const char*), std::uint64_t (*fallback)()) {
    std::uint64_t chosen = 0;  // 0: use the default
    if (auto n = parse_thread_count(env("RAYON_NUM_THREADS"))) {
        chosen = *n;
    } else if (auto m = parse_thread_count(env("RAYON_RS_NUM_CPUS"))) {
        chosen = *m;
    }
    if (chosen == 0) chosen = fallback();
    return std::clamp<std::uint64_t>(chosen, 1, MAX_THREADS);
}

}  // namespace veltrane::pool
