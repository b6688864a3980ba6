#include "corpus/shard_text.hpp"

#include <cstring>
#include <stdexcept>


namespace veltrane::corpus::shard {

PassText text_from_pieces(const CorpusText& original, const std::vector<Piece>& pieces) {
    std::uint64_t kept = 0, origin_from = 0;
    for (const Piece& piece : pieces) {
        if (piece.at != kept || piece.size == 0 || piece.origin < origin_from || piece.origin > original.size() ||
            piece.size > original.size() - piece.origin) {
            throw std::invalid_argument("pieces that do not describe a text kept of the shard");
        }
        kept += piece.size;
        origin_from = piece.origin + piece.size;
    }
    PassText text;
    text.bytes = util::BigArray<std::uint8_t>(kept);
    text.pieces = pieces;
    for (const Piece& piece : pieces) {
        std::memcpy(text.bytes.data() + piece.at, original.bytes + piece.origin, piece.size);
    }
    // A document's new start: the bytes kept before its old one.
    text.offsets.reserve(original.offsets.size());
    std::size_t p = 0;
    for (std::uint64_t boundary : original.offsets) {
        while (p < pieces.size() && pieces[p].origin + pieces[p].size <= boundary) ++p;
        const std::uint64_t before = p < pieces.size() ? pieces[p].at + (boundary > pieces[p].origin ? boundary - pieces[p].origin : 0)
                                                       : kept;
        text.offsets.push_back(before);
    }
    return text;
}

std::vector<std::uint64_t> set_ranges(const Bitset& set) {
    std::vector<std::uint64_t> ranges;
    set.for_each([&](std::uint64_t p) {
        if (!ranges.empty() && ranges.back() == p) {
            ++ranges.back();
        } else {
            ranges.push_back(p);
            ranges.push_back(p + 1);
        }
    });
    return ranges;
}

Bitset from_ranges(std::span<const std::uint64_t> ranges, std::uint64_t size) {
    if (ranges.size() % 2 != 0) throw std::invalid_argument("ranges come in pairs");
    Bitset set(size);
    std::uint64_t from = 0;
    for (std::size_t i = 0; i < ranges.size(); i += 2) {
        if (ranges[i] < from || ranges[i] >= ranges[i + 1] || ranges[i + 1] > size) {
            throw std::invalid_argument("ranges that are not ascending inside the text");
        }
        set.set_range(ranges[i], ranges[i + 1]);
        from = ranges[i + 1];
    }
    return set;
}

}  // namespace veltrane::corpus::shard
