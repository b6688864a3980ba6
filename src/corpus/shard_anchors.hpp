// A shard's anchors, and the two keys of every window.
//
// Anchors (anchors.hpp) are picked by windows of t = L / 2 bytes. A window of
// L bytes at y has two: the anchor of its first half (the t bytes at y) and
// that of its second half (the t bytes at y + f, f = L - t). Its first key
// is the fingerprint of the f bytes from the first anchor on; its second key
// that of the f bytes up to the end of the second anchor's gram. Both lie
// inside the window, and only its bytes decide them: two windows with the
// same bytes have the same two keys, their anchors at the same offsets. The
// windows whose first halves pick one anchor form a run; the runs are what
// the first exchange of a pass sends (shard_runs.hpp), and a window decided
// one by one must have both keys held elsewhere too (shard_windows.hpp).
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "corpus/bitset.hpp"
#include "corpus/corpus_text.hpp"
#include "corpus/shard_records.hpp"

namespace veltrane::corpus::shard {

// Whether windows of min_length bytes pick anchors; shorter ones are all
// decided window by window.
bool anchored(std::uint64_t min_length);

// A key: a fingerprint with the low bits cleared, which records use for flags.
inline constexpr std::uint64_t KEY_FLAGS = 3;
inline std::uint64_t key_of(std::uint64_t fingerprint) { return fingerprint & ~KEY_FLAGS; }

// An anchor and the half-windows of t bytes that pick it, [first, stop), all in one document.
struct HalfRun {
    std::uint64_t first_key, second_key;  // of the windows whose first, or second, half picks it
    std::uint64_t first, stop;
};

// The shard's anchors in order of position (anchored(min_length) must hold),
// in the documents that hold a window.
std::vector<HalfRun> half_runs(const CorpusText& text, std::uint64_t min_length);

// The windows (L bytes at y) whose first half picks `run`: [first, stop) within the document's windows.
struct Span {
    std::uint64_t first, stop;
    bool empty() const { return first >= stop; }
};
// `window_end`: one past the last window start of the run's document.
inline Span by_first_half(const HalfRun& run, std::uint64_t window_end) {
    return {run.first, std::min(run.stop, window_end)};
}
// The windows whose second half picks `run`: y + f in [first, stop).
inline Span by_second_half(const HalfRun& run, std::uint64_t f, std::uint64_t document_start,
                           std::uint64_t window_end) {
    const std::uint64_t from = std::max(run.first, document_start + f), to = std::min(run.stop, window_end + f);
    return to > from ? Span{from - f, to - f} : Span{0, 0};
}

// Calls each(run, window_end, document_start) for the runs in order.
template <class Each>
void with_documents(const CorpusText& text, std::uint64_t min_length, const std::vector<HalfRun>& runs, Each&& each) {
    std::size_t d = 0;
    for (const HalfRun& run : runs) {
        while (text.offsets[d + 1] <= run.first) ++d;
        each(run, text.offsets[d + 1] - min_length + 1, text.offsets[d]);
    }
}

}  // namespace veltrane::corpus::shard
