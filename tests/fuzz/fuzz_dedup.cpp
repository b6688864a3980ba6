// libFuzzer target: the corpus deduplication against the byte-by-byte model
// of its definition (tests/core/reference_dedup.hpp), and the fixed point.
//
// The first byte chooses the window length (1 to 8), the keep rule, whole
// lines and whether the later passes must look near the removals; the rest is
// the corpus, at most MAX_BYTES, split into documents at every 0xFF byte
// (so documents may be empty). Bytes are mapped onto a few values that
// include a line break and UTF-8 lead and continuation bytes, so that
// repeats, lines and characters all meet at range edges. A range the model
// contradicts, a pass count that differs, a second deduplication that
// removes anything, or a sanitizer report is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "corpus/dedup.hpp"
#include "reference_dedup.hpp"

namespace {

namespace corpus = veltrane::corpus;
constexpr std::size_t MAX_BYTES = 64;
constexpr unsigned char VALUES[] = {'a', 'b', '\n', 0xC3, 0xA9, 0xE2, 0x82, 0xC2};

struct Corpus {
    std::string bytes;
    std::vector<std::uint64_t> offsets{0};
    explicit Corpus(const std::vector<std::string>& docs) {
        for (const std::string& d : docs) {
            bytes += d;
            offsets.push_back(bytes.size());
        }
    }
    corpus::CorpusText text() const { return {reinterpret_cast<const std::uint8_t*>(bytes.data()), offsets}; }
};

[[noreturn]] void differs(const char* what) {
    std::fprintf(stderr, "deduplication differs from the model: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > MAX_BYTES + 1) return 0;
    const std::uint8_t choice = data[0];
    std::vector<std::string> docs(1);
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == 0xFF) {
            docs.emplace_back();
        } else {
            docs.back() += static_cast<char>(VALUES[data[i] % sizeof VALUES]);
        }
    }
    const corpus::DedupOptions options{1u + (choice & 7u), (choice & 8) ? corpus::Keep::none : corpus::Keep::first,
                                       (choice & 16) != 0};
    const Corpus c(docs);
    const auto result = corpus::detail::find_duplicate_spans(c.text(), options, (choice & 32) != 0);
    const auto model = veltrane::reference::dedup_model(docs, options.min_length, options.keep == corpus::Keep::first,
                                                        options.whole_lines);
    if (result.passes != model.passes) differs("passes");
    std::vector<std::string> out(docs.size());
    std::size_t r = 0;
    for (std::size_t d = 0; d < docs.size(); ++d) {
        std::vector<std::uint64_t> kept;
        for (std::uint64_t p = 0; p < docs[d].size(); ++p) {
            while (r < result.documents.size() &&
                   (result.documents[r] < d || (result.documents[r] == d && result.ends[r] <= p))) {
                ++r;
            }
            const bool gone = r < result.documents.size() && result.documents[r] == d && result.starts[r] <= p;
            if (!gone) {
                kept.push_back(p);
                out[d] += docs[d][p];
            }
        }
        if (kept != model.kept[d]) differs("the bytes kept");
    }
    const Corpus again(out);
    const auto second = corpus::find_duplicate_spans(again.text(), options);
    if (!second.documents.empty() || second.passes != 1) differs("not a fixed point");
    return 0;
}
