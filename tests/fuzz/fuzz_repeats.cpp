// libFuzzer target: the repeats search against the brute-force model of its
// definition (tests/core/reference_repeats.hpp).
//
// The first five bytes choose the options and the element width; the rest is
// the sequence, at most MAX_ELEMENTS long (the model is cubic or worse). Bytes
// are searched as they are; as code points each byte is spread over
// 0..0x10FFFF, so 0, the largest code point and values beyond the basic plane
// all occur. A result or a left-out count that the model contradicts, or any
// sanitizer report, is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <vector>

#include "reference_repeats.hpp"
#include "strings/repeats/search.hpp"

namespace {

namespace rep = veltrane::strings::repeats;
constexpr std::size_t MAX_ELEMENTS = 48;

[[noreturn]] void differs(const char* what, std::size_t n, const rep::Options& o) {
    std::fprintf(stderr, "repeats differ from the model (%s): n=%zu top=%lld min_count=%llu min_length=%llu "
                         "max_length=%lld rank=%d maximal=%d periodic=%d min_entropy=%g non_overlap=%d max_starts=%lld\n",
                 what, n, o.top ? static_cast<long long>(*o.top) : -1LL, static_cast<unsigned long long>(o.min_count),
                 static_cast<unsigned long long>(o.min_length), o.max_length ? static_cast<long long>(*o.max_length) : -1LL,
                 static_cast<int>(o.rank), o.maximal, o.exclude_periodic, o.min_entropy.value_or(-1.0), o.non_overlap,
                 o.max_starts ? static_cast<long long>(*o.max_starts) : -1LL);
    std::abort();
}

template <class T>
void compare(const std::vector<T>& seq, const rep::Options& o) {
    std::span<const T> view(seq.data(), seq.size());
    const rep::RepeatsResult r = rep::find_repeats(view, o);
    const veltrane::reference::RepeatsModel<T> model(view);
    const std::vector<veltrane::reference::ModelRepeat> want = model.repeats(o);
    if (r.size() != want.size()) differs("number of fragments", seq.size(), o);
    const std::uint64_t max_starts = o.max_starts.value_or(UINT64_MAX);
    for (std::size_t i = 0; i < want.size(); ++i) {
        if (r.lengths[i] != want[i].length || r.counts[i] != want[i].count || r.firsts[i] != want[i].first ||
            r.scores[i] != want[i].score) {
            differs("a fragment", seq.size(), o);
        }
        const std::uint64_t stored = std::min<std::uint64_t>(want[i].count, max_starts);
        if (r.offsets[i + 1] - r.offsets[i] != stored || r.truncated[i] != (stored < want[i].count)) {
            differs("stored starts", seq.size(), o);
        }
        for (std::uint64_t k = 0; k < stored; ++k) {
            if (r.starts[r.offsets[i] + k] != want[i].starts[k]) differs("a start", seq.size(), o);
        }
    }
    // Code points also go the way of wide symbols (induced sorting), which
    // few distinct values would otherwise skip: the same result, column for column.
    if (sizeof(T) > 1 && !seq.empty() && o.top != std::uint64_t{0} && o.min_count <= seq.size() &&
        o.min_length <= seq.size()) {
        std::uint32_t alphabet = 0;
        const std::vector<std::uint32_t> ranks = veltrane::strings::frag::detail::element_ranks(view, alphabet);
        const rep::RepeatsResult w = rep::detail::search_ranked<std::uint32_t, std::uint32_t>(
            ranks.data(), static_cast<std::uint32_t>(seq.size()), alphabet, o);
        if (w.lengths != r.lengths || w.counts != r.counts || w.firsts != r.firsts || w.offsets != r.offsets ||
            w.starts != r.starts || w.truncated != r.truncated || w.left_out.periodic != r.left_out.periodic ||
            w.left_out.not_maximal != r.left_out.not_maximal || w.left_out.low_entropy != r.left_out.low_entropy ||
            w.left_out.few_non_overlapping != r.left_out.few_non_overlapping) {
            differs("wide symbols", seq.size(), o);
        }
    }
    // Without top and overlap rules every candidate is reported or counted once.
    if (!o.top && !o.non_overlap) {
        std::uint64_t raw = 0;
        for (std::size_t i = 0; i < model.fragments().size(); ++i) {
            raw += model.length_ok(i, o) && model.fragments()[i].occurrences >= o.min_count;
        }
        const auto& l = r.left_out;
        if (l.few_non_overlapping + l.periodic + l.low_entropy + l.not_maximal + r.size() != raw) {
            differs("left-out counts", seq.size(), o);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    if (size < 5) return -1;
    rep::Options o;
    const std::uint8_t a = input[0], b = input[1], c = input[2], d = input[3], e = input[4];
    o.top = a >= 200 ? std::optional<std::uint64_t>{} : std::optional<std::uint64_t>{a % 8};
    o.min_count = 1 + b % 4;
    o.min_length = 1 + (b >> 2) % 6;
    if (b & 0x80) o.max_length = o.min_length + c % 8;
    o.rank = (c & 0x10) ? rep::Rank::coverage : rep::Rank::savings;
    o.maximal = c & 0x20;
    o.exclude_periodic = c & 0x40;
    if (c & 0x80) o.min_entropy = (d % 9) * 0.25;
    o.non_overlap = d & 0x80;
    if (e & 0x80) o.max_starts = e % 4;
    const bool wide = e & 0x40;
    const std::uint8_t* body = input + 5;
    const std::size_t n = std::min(size - 5, MAX_ELEMENTS);
    if (!wide) {
        compare(std::vector<std::uint8_t>(body, body + n), o);
    } else {
        std::vector<std::uint32_t> seq(n);
        for (std::size_t i = 0; i < n; ++i) seq[i] = static_cast<std::uint32_t>(body[i]) * 0x10FFFFu / 255u;
        compare(seq, o);
    }
    return 0;
}
