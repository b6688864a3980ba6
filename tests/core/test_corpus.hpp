// A corpus of documents given as strings, as the corpus tests build them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "corpus/corpus_text.hpp"

namespace veltrane::testing {

struct Corpus {
    std::string bytes;
    std::vector<std::uint64_t> offsets{0};
    std::vector<std::string> documents;

    explicit Corpus(const std::vector<std::string>& docs) : documents(docs) {
        for (const std::string& d : docs) {
            bytes += d;
            offsets.push_back(bytes.size());
        }
    }
    veltrane::corpus::CorpusText text() const {
        return {reinterpret_cast<const std::uint8_t*>(bytes.data()), offsets};
    }
};

inline std::string show(const std::vector<std::string>& docs) {
    std::string out;
    for (const std::string& d : docs) out += "[" + d + "]";
    return out;
}

}  // namespace veltrane::testing
