// libFuzzer target: the deduplication on a cluster, simulated in one process
// (tests/core/cluster_simulation.hpp), against the one-machine engine.
//
// The first byte chooses the keep rule, whole lines and whether the first base
// of each pass is the degenerate 1 (windows with the same bytes in any order
// collide); the second the window length (1 to 64, so that windows with and
// without anchors are both reached); the third the shard size (1 to 256
// bytes) and the partitions (1 to 4). The rest is the corpus, at most
// MAX_BYTES, split into documents at every 0xFF byte, its bytes mapped onto a
// few values with a line break and UTF-8 lead and continuation bytes. Any
// difference in the ranges, the bytes removed or the passes is a finding, and
// so is a shard's text made from its pieces that differs from the removal's.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cluster_simulation.hpp"
#include "corpus/window_hash.hpp"
#include "test_corpus.hpp"

namespace {

namespace corpus = veltrane::corpus;
constexpr std::size_t MAX_BYTES = 2048;
constexpr unsigned char VALUES[] = {'a', 'b', '\n', 0xC3, 0xA9, 0xE2, 0x82, ' '};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3 || size > MAX_BYTES + 3) return 0;
    const std::uint8_t choice = data[0];
    std::vector<std::string> docs(1);
    for (std::size_t i = 3; i < size; ++i) {
        if (data[i] == 0xFF) {
            docs.emplace_back();
        } else {
            docs.back() += static_cast<char>(VALUES[data[i] % sizeof VALUES]);
        }
    }
    const corpus::DedupOptions options{1u + (data[1] & 63u), (choice & 1) ? corpus::Keep::none : corpus::Keep::first,
                                       (choice & 2) != 0};
    const veltrane::testing::Corpus c(docs);
    std::vector<std::size_t> firsts{0};
    const std::uint64_t shard_size = 1u + (data[2] & 0x3Fu) * 4u;
    std::uint64_t held = 0;
    for (std::size_t d = 0; d < docs.size(); ++d) {
        if (held > 0 && held + docs[d].size() > shard_size) {
            firsts.push_back(d);
            held = 0;
        }
        held += docs[d].size();
    }
    bool fresh = true;
    const bool degenerate = (choice & 4) != 0;
    const auto base = [&]() -> std::uint64_t {
        if (degenerate && fresh) {
            fresh = false;
            return 1;
        }
        fresh = true;
        return corpus::WindowHash::random_base();
    };
    const auto simulated = veltrane::testing::simulate_cluster(c.text(), firsts, 1u + (data[2] >> 6), options, base);
    const auto expected = corpus::find_duplicate_spans(c.text(), options);
    const auto& got = simulated.result;
    if (got.documents != expected.documents || got.starts != expected.starts || got.ends != expected.ends ||
        got.passes != expected.passes || got.removed_bytes != expected.removed_bytes || !simulated.texts_agree) {
        std::fprintf(stderr, "the simulated cluster run differs from the engine\n");
        std::abort();
    }
    return 0;
}
