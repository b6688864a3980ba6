// The block's transform output recoded as the encoder codes it: move-to-front
// positions over the block's byte alphabet, runs of position 0 written as
// bijective base-2 numerals of the two run symbols, every other position j as
// symbol j + 1, and the end-of-block symbol last.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace veltrane::bz2_length {

inline constexpr std::uint16_t RUN_A = 0;  // digit 1 of a run length
inline constexpr std::uint16_t RUN_B = 1;  // digit 2

// letters[0..n): each below `alphabet` (1..256), the block's bytes renumbered
// 0..alphabet-1 in byte order; the move-to-front list starts as 0, 1, 2, ...
// Writes at most n + 1 symbols to `symbols` and returns how many; the coding
// alphabet is alphabet + 2 symbols, the last one being the end of block.
std::size_t move_to_front_symbols(const std::uint8_t* letters, std::size_t n, int alphabet, std::uint16_t* symbols);

// For alphabets of at most SMALL_ALPHABET letters only each group's counts of
// each symbol are kept (all the coding stage needs of them): `counts` becomes
// COUNT_LANES bytes per group of GROUP_SIZE symbols, the last group partial.
// Returns the number of symbols.
inline constexpr int SMALL_ALPHABET = 14;
inline constexpr int COUNT_LANES = 16;
std::size_t move_to_front_counts(const std::uint8_t* letters, std::size_t n, int alphabet,
                                 std::vector<std::uint8_t>& counts);

namespace detail {

// Each group's symbol counts, as symbols are appended in order.
class GroupTally {
public:
    // counts: zeroed, room for every group.
    explicit GroupTally(std::uint8_t* counts) : counts_(counts) {}
    void add(int symbol);
    void add_run(std::size_t zeros);  // a run of zeros (> 0), as its digits
    std::size_t symbols() const;
    std::uint8_t* current_group() const;
    // How many symbols the current group holds; kept outside for a while by
    // a caller that counts them itself.
    int filled() const { return filled_; }
    void set_filled(int symbols_in_group) { filled_ = symbols_in_group; }

private:
    std::uint8_t* counts_;
    std::size_t full_groups_ = 0;
    int filled_ = 0;
};

// Room, in groups, for the symbols of n letters.
inline std::size_t groups_for(std::size_t n) { return (n + 1) / 50 + 2; }

// The plain version of move_to_front_counts, which it falls back on without
// AVX2 (for the tests to hold the two together).
std::size_t move_to_front_counts_portable(const std::uint8_t* letters, std::size_t n, int alphabet,
                                          std::vector<std::uint8_t>& counts);
bool have_vector_move_to_front();

}  // namespace detail

}  // namespace veltrane::bz2_length
