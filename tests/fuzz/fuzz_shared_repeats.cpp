// libFuzzer target: what the documents of a corpus share, found every way the
// search can go (sampled regions or whole documents; bytes with a separator
// or wide symbols; one search or several side by side), must be one answer.
// The whole documents as wide symbols are the way the core tests check
// against the model of the definition.
//
// Two bytes choose the options. The rest builds the corpus as a little
// program, so that long repeats are common: 0xFF starts a new document, 0xFE
// followed by two bytes copies 24 to 279 bytes from earlier in the corpus,
// any other byte appends one of a few values (a line break among them).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "corpus/repeat_regions.hpp"
#include "corpus/shared_repeats.hpp"

namespace {

namespace corpus = veltrane::corpus;
constexpr std::size_t MAX_BYTES = 4096;
constexpr unsigned char VALUES[] = {'a', 'b', 'c', '\n', 'd', 0xC3, 0xA9, ' '};

[[noreturn]] void differs(const char* what) {
    std::fprintf(stderr, "shared repeats differ between search paths: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > 1024) return 0;
    std::vector<std::string> docs(1);
    std::string all;
    for (std::size_t i = 2; i < size && all.size() < MAX_BYTES; ++i) {
        if (data[i] == 0xFF) {
            docs.emplace_back();
        } else if (data[i] == 0xFE && i + 2 < size && !all.empty()) {
            const std::size_t from = data[i + 1] * all.size() / 256, length = 24 + data[i + 2];
            const std::string copy = all.substr(from, length);
            docs.back() += copy;
            all += copy;
            i += 2;
        } else {
            docs.back() += static_cast<char>(VALUES[data[i] % sizeof VALUES]);
            all += docs.back().back();
        }
    }
    std::string bytes;
    std::vector<std::uint64_t> offsets{0};
    for (const std::string& d : docs) {
        bytes += d;
        offsets.push_back(bytes.size());
    }
    const corpus::CorpusText text{reinterpret_cast<const std::uint8_t*>(bytes.data()), offsets};

    const std::uint8_t a = data[0], b = data[1];
    veltrane::strings::repeats::Options options;
    options.min_length = (a & 3) == 0 ? 1 + a % 16 : corpus::SAMPLED_FROM + (a >> 2) % 48;
    options.min_count = 2 + (b & 1);
    options.maximal = (b & 2) == 0;
    options.exclude_periodic = (b & 4) == 0;
    options.non_overlap = (b & 8) != 0;
    options.top = (b & 16) ? std::optional<std::uint64_t>{1 + (b >> 5)} : std::nullopt;

    const auto reference = corpus::detail::find_shared_repeats(text, options, {false, false, 1});
    for (const corpus::detail::Paths paths : {corpus::detail::Paths{true, true, 0}, corpus::detail::Paths{true, false, 1},
                                              corpus::detail::Paths{true, true, std::size_t{2} + b % 3},
                                              corpus::detail::Paths{false, true, 1}}) {
        const auto other = corpus::detail::find_shared_repeats(text, options, paths);
        if (other.found.lengths != reference.found.lengths || other.found.counts != reference.found.counts) {
            differs("fragments");
        }
        if (other.found.firsts != reference.found.firsts || other.found.starts != reference.found.starts ||
            other.found.offsets != reference.found.offsets) {
            differs("occurrences");
        }
        if (other.documents != reference.documents || other.lines != reference.lines ||
            other.end_lines != reference.end_lines || other.documents_touched != reference.documents_touched) {
            differs("placement");
        }
    }
    return 0;
}
