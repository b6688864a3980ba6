// The compression statistic (SP 800-90B 5.1.11) as NIST's tool computes it:
// the raw samples written in decimal, separated by single spaces, compressed
// by libbz2 at block size 5; the statistic is the length in bytes, which
// bz2_length computes without compressing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace veltrane::sp800_90b::iid {

// One per thread: it keeps the buffers of its last call for the next.
class CompressionStatistic {
public:
    CompressionStatistic();
    ~CompressionStatistic();
    CompressionStatistic(const CompressionStatistic&) = delete;
    CompressionStatistic& operator=(const CompressionStatistic&) = delete;

    double operator()(const std::uint8_t* raw, std::size_t n);

private:
    struct Buffers;
    std::unique_ptr<Buffers> buffers_;
};

}  // namespace veltrane::sp800_90b::iid
