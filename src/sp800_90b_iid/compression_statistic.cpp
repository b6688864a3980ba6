#include "sp800_90b_iid/compression_statistic.hpp"

#include "bz2_length/bz2_length.hpp"

namespace veltrane::sp800_90b::iid {

namespace {

// libbz2's block size, in hundreds of kB, as NIST's tool asks for it.
constexpr int BLOCK_SIZE_100K = 5;

}  // namespace

struct CompressionStatistic::Buffers {
    bz2_length::Workspace workspace;
};

CompressionStatistic::CompressionStatistic() : buffers_(std::make_unique<Buffers>()) {}
CompressionStatistic::~CompressionStatistic() = default;

double CompressionStatistic::operator()(const std::uint8_t* raw, std::size_t n) {
    return static_cast<double>(bz2_length::decimal_text_length(raw, n, BLOCK_SIZE_100K, buffers_->workspace));
}

}  // namespace veltrane::sp800_90b::iid
