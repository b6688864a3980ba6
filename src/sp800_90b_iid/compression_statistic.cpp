// TEMPORARY development shim on libbz2 itself, until the exact length engine lands.
#include "sp800_90b_iid/compression_statistic.hpp"

#include <bzlib.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace veltrane::sp800_90b::iid {

struct CompressionStatistic::Buffers {
    std::string text;
    std::vector<char> out;
};

CompressionStatistic::CompressionStatistic() : buffers_(std::make_unique<Buffers>()) {}
CompressionStatistic::~CompressionStatistic() = default;

double CompressionStatistic::operator()(const std::uint8_t* raw, std::size_t n) {
    std::string& t = buffers_->text;
    t.clear();
    for (std::size_t i = 0; i < n; ++i) {
        if (i) t.push_back(' ');
        t += std::to_string(raw[i]);
    }
    auto& out = buffers_->out;
    out.resize(t.size() + t.size() / 100 + 600);
    unsigned len = static_cast<unsigned>(out.size());
    if (BZ2_bzBuffToBuffCompress(out.data(), &len, t.data(), static_cast<unsigned>(t.size()), 5, 0, 0) != BZ_OK) {
        throw std::runtime_error("bz2 failed");
    }
    return static_cast<double>(len);
}

}  // namespace veltrane::sp800_90b::iid
