// The element positions that fragments accepted so far occupy, as a 64-ary
// bit tree: "first taken position >= x" costs O(log64 n) words, marking a run
// of L positions about L / 64 words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace veltrane::strings::frag {

class TakenPositions {
public:
    explicit TakenPositions(std::uint64_t n);

    // The first taken position >= x, or n when there is none.
    std::uint64_t next_taken(std::uint64_t x) const;

    bool any_taken(std::uint64_t start, std::uint64_t end) const { return next_taken(start) < end; }

    // Marks [start, end) taken; the positions must all be free.
    void take(std::uint64_t start, std::uint64_t end);

    std::uint64_t free_count() const { return free_; }

private:
    std::uint64_t n_;
    std::uint64_t free_;
    // levels_[0] holds one bit per position; a bit of levels_[k + 1] says that
    // word of levels_[k] is not zero.
    std::vector<std::vector<std::uint64_t>> levels_;
};

}  // namespace veltrane::strings::frag
