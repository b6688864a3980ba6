#include "bz2_length/move_to_front.hpp"

#include <cstring>

#include "bz2_length/format.hpp"
#include "pool/cancel.hpp"

namespace veltrane::bz2_length {

namespace detail {

void GroupTally::add(int symbol) {
    ++counts_[full_groups_ * COUNT_LANES + symbol];
    if (++filled_ == static_cast<int>(GROUP_SIZE)) ++full_groups_, filled_ = 0;
}

// A run's length in bijective base 2, least significant digit first: the bits
// of zeros + 1 below its top bit, 0 as RUN_A (1) and 1 as RUN_B (2).
void GroupTally::add_run(std::size_t zeros) {
    for (std::size_t v = zeros + 1; v > 1; v >>= 1) add((v & 1) ? RUN_B : RUN_A);
}

std::size_t GroupTally::symbols() const { return full_groups_ * GROUP_SIZE + filled_; }

std::uint8_t* GroupTally::current_group() const { return counts_ + full_groups_ * COUNT_LANES; }

}  // namespace detail

namespace {

// The list itself, searched and shifted: any alphabet. put(symbol) and
// put_run(zeros) receive the symbols.
template <class Put, class PutRun>
void plain(const std::uint8_t* letters, std::size_t n, int alphabet, Put put, PutRun put_run) {
    std::uint8_t list[256];
    for (int i = 0; i < alphabet; ++i) list[i] = static_cast<std::uint8_t>(i);
    std::size_t zeros = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if ((i & 0xffff) == 0xffff) pool::checkpoint();
        const std::uint8_t c = letters[i];
        if (list[0] == c) {
            ++zeros;
            continue;
        }
        if (zeros) put_run(zeros), zeros = 0;
        int at = 1;
        while (list[at] != c) ++at;
        std::memmove(list + 1, list, at);
        list[0] = c;
        put(at + 1);
    }
    if (zeros) put_run(zeros);
    put(alphabet + 1);
}

}  // namespace

std::size_t move_to_front_symbols(const std::uint8_t* letters, std::size_t n, int alphabet, std::uint16_t* symbols) {
    std::uint16_t* out = symbols;
    plain(
        letters, n, alphabet, [&](int s) { *out++ = static_cast<std::uint16_t>(s); },
        [&](std::size_t zeros) {
            for (std::size_t v = zeros + 1; v > 1; v >>= 1) *out++ = (v & 1) ? RUN_B : RUN_A;
        });
    return out - symbols;
}

namespace detail {

std::size_t move_to_front_counts_portable(const std::uint8_t* letters, std::size_t n, int alphabet,
                                          std::vector<std::uint8_t>& counts) {
    counts.assign(groups_for(n) * COUNT_LANES, 0);
    GroupTally tally(counts.data());
    plain(
        letters, n, alphabet, [&](int s) { tally.add(s); }, [&](std::size_t zeros) { tally.add_run(zeros); });
    return tally.symbols();
}

}  // namespace detail

}  // namespace veltrane::bz2_length
