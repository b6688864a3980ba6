// What a shard keeps between the steps of a cluster run is small: where its
// bytes came from in the text as loaded (pieces) and the bytes to look near,
// as ranges. Its text is made again from the text as loaded whenever it is
// needed and no copy is at hand (the result lost with its worker, or the
// scratch copy left on another one), so a lost text never costs the passes before it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "corpus/bitset.hpp"
#include "corpus/corpus_text.hpp"
#include "corpus/pass_removal.hpp"

namespace veltrane::corpus::shard {

// The text the pieces keep of `original` (the documents as loaded): its bytes
// and the offsets of the same documents (`near` is left empty). Throws
// std::invalid_argument for pieces that do not tile the text they describe or
// lie outside `original`.
PassText text_from_pieces(const CorpusText& original, const std::vector<Piece>& pieces);

// The set's positions as ranges, two words [start, end) each, ascending and apart.
std::vector<std::uint64_t> set_ranges(const Bitset& set);

// The set of `size` positions holding `ranges`. Throws std::invalid_argument
// for ranges that are not ascending or lie outside.
Bitset from_ranges(std::span<const std::uint64_t> ranges, std::uint64_t size);

}  // namespace veltrane::corpus::shard
