// One pass over a gzip file, chunk by chunk, that finds where a reader can
// later start inflating without the text before.
//
// Checkpoints sit at deflate block boundaries: the first boundary at or past
// each multiple k * spacing of the uncompressed text (k = 1, 2, ...; one
// boundary may serve several k), never at the text's start or end. The file
// is accepted exactly when Python's gzip module would decode it (members back
// to back, zero bytes after any member, or no bytes at all), with one
// exception on the safe side: a header zlib refuses (a bad header CRC, reserved
// flags) is refused here though Python skips over it. Anything else irregular
// — a bad CRC or length, truncation, trailing garbage — gives a reason instead
// of an index. Refusing never costs more than reading the file whole.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "gzip_index/checkpoint.hpp"
#include "gzip_index/inflater.hpp"
#include "gzip_index/text_ring.hpp"

namespace veltrane::gzip_index {

class Survey {
public:
    // Throws std::invalid_argument when spacing is 0.
    explicit Survey(std::uint64_t spacing);

    // The next bytes of the file, in order, in chunks of any size. Returns false
    // once the file is known not to be indexable (the rest need not be read).
    // Throws pool::Cancelled when interrupted.
    bool feed(std::span<const std::uint8_t> chunk);
    // The file has ended: the index, or the reason there is none.
    SurveyResult finish();

private:
    enum class Phase { before_first_member, in_member, between_members };

    // Inflates from `input` until the member ends or the input runs out;
    // returns the bytes taken.
    std::size_t inflate_member(std::span<const std::uint8_t> input);
    void at_block_boundary(unsigned bits);
    void refuse(std::string reason);

    std::uint64_t spacing_;
    std::uint64_t next_k_ = 1;  // the next multiple of spacing a checkpoint must reach
    Inflater inflater_;
    TextRing text_;
    Phase phase_ = Phase::before_first_member;
    std::uint64_t consumed_ = 0;  // compressed bytes taken
    std::uint8_t last_byte_ = 0;  // the last of them
    std::string reason_;
    std::vector<Checkpoint> checkpoints_;
};

}  // namespace veltrane::gzip_index
