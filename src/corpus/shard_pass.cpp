#include "corpus/shard_pass.hpp"

#include "corpus/shard_claims.hpp"

namespace veltrane::corpus::shard {

ShardPass finish_pass(const CorpusText& text, std::uint64_t position, const std::vector<Piece>& pieces,
                      Bitset duplicates, std::span<const std::span<const std::uint64_t>> runs,
                      const DedupOptions& options) {
    ShardPass out;
    if (!verify_runs(text, position, options.min_length, runs, duplicates)) {
        out.collided = true;
        return out;
    }
    const Marked marked = mark(text, duplicates, options);
    out.removed = marked.removed_total;
    if (!marked.covered.empty()) {
        out.next = remove(text, pieces, marked);
        return out;
    }
    out.same_bytes = true;
    out.next.offsets.assign(text.offsets.begin(), text.offsets.end());
    out.next.pieces = pieces;
    out.next.near = Bitset(text.size());
    return out;
}

}  // namespace veltrane::corpus::shard
