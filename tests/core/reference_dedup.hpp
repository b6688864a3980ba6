// The deduplication by its definition, byte by byte: every window compared
// with every other, marked bytes as flags, runs cut to character or line
// boundaries found by looking at each position, passes until one removes
// nothing. Quadratic and plain; the reference the engine must equal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace veltrane::reference {

struct DedupModel {
    // For each document, the original positions of the bytes that stay.
    std::vector<std::vector<std::uint64_t>> kept;
    unsigned passes = 0;
};

// A character is a byte that is not 10xxxxxx with up to three continuation
// bytes after it; every continuation byte past the third in a row stands alone.
inline bool model_boundary(const std::string& doc, std::size_t i, bool lines) {
    if (i == 0 || i == doc.size()) return true;
    if (lines) return doc[i - 1] == '\n';
    std::size_t continuations = 0;  // this byte and those before it, in a row
    for (std::size_t k = i + 1; k-- > 0 && (static_cast<unsigned char>(doc[k]) & 0xC0) == 0x80;) ++continuations;
    return continuations == 0 || continuations >= 4;
}

inline DedupModel dedup_model(const std::vector<std::string>& documents, std::size_t length, bool keep_first,
                              bool lines) {
    DedupModel model;
    std::vector<std::string> docs = documents;
    for (const std::string& d : docs) {
        std::vector<std::uint64_t> all;
        for (std::size_t i = 0; i < d.size(); ++i) all.push_back(i);
        model.kept.push_back(all);
    }
    for (;;) {
        ++model.passes;
        struct Window { std::size_t doc, at; };
        std::vector<Window> windows;
        for (std::size_t d = 0; d < docs.size(); ++d) {
            for (std::size_t p = 0; p + length <= docs[d].size(); ++p) windows.push_back({d, p});
        }
        std::vector<std::vector<bool>> marked(docs.size());
        for (std::size_t d = 0; d < docs.size(); ++d) marked[d].assign(docs[d].size(), false);
        for (std::size_t i = 0; i < windows.size(); ++i) {
            bool repeats = false;
            for (std::size_t j = 0; j < windows.size() && !repeats; ++j) {
                if (j == i || (keep_first && j > i)) continue;
                repeats = docs[windows[i].doc].compare(windows[i].at, length, docs[windows[j].doc], windows[j].at,
                                                       length) == 0;
            }
            if (repeats) {
                for (std::size_t k = 0; k < length; ++k) marked[windows[i].doc][windows[i].at + k] = true;
            }
        }
        bool removed_any = false;
        for (std::size_t d = 0; d < docs.size(); ++d) {
            std::vector<bool> gone(docs[d].size(), false);
            for (std::size_t a = 0; a < docs[d].size();) {
                if (!marked[d][a]) {
                    ++a;
                    continue;
                }
                std::size_t b = a;
                while (b < docs[d].size() && marked[d][b]) ++b;
                std::size_t lo = a, hi = b;
                while (lo < hi && !model_boundary(docs[d], lo, lines)) ++lo;
                while (hi > lo && !model_boundary(docs[d], hi, lines)) --hi;
                for (std::size_t k = lo; k < hi; ++k) gone[k] = true;
                a = b;
            }
            std::string text;
            std::vector<std::uint64_t> kept;
            for (std::size_t k = 0; k < docs[d].size(); ++k) {
                if (gone[k]) {
                    removed_any = true;
                } else {
                    text += docs[d][k];
                    kept.push_back(model.kept[d][k]);
                }
            }
            docs[d] = text;
            model.kept[d] = kept;
        }
        if (!removed_any) return model;
    }
}

}  // namespace veltrane::reference
