#include "corpus/corpus_text.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace veltrane::corpus {

void check_offsets(std::span<const std::uint64_t> offsets, std::uint64_t size) {
    if (offsets.empty() || offsets.front() != 0) throw std::invalid_argument("document offsets must start at 0");
    if (!std::is_sorted(offsets.begin(), offsets.end())) {
        throw std::invalid_argument("document offsets must not decrease");
    }
    if (offsets.back() != size) {
        throw std::invalid_argument("document offsets must end at the corpus size (" + std::to_string(size) +
                                    "), not at " + std::to_string(offsets.back()));
    }
}

std::size_t document_of(std::span<const std::uint64_t> offsets, std::uint64_t p) {
    // The last offset <= p whose document is not empty: upper_bound skips the
    // runs of equal offsets that empty documents leave.
    const auto after = std::upper_bound(offsets.begin(), offsets.end(), p);
    return static_cast<std::size_t>(after - offsets.begin()) - 1;
}

}  // namespace veltrane::corpus
