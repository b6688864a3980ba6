// One zlib inflate stream, owned: inflateEnd runs however the owner is left.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <span>

namespace veltrane::gzip_index {

class Inflater {
public:
    // `wbits` as inflateInit2 takes it (GZIP_WBITS or RAW_WBITS). Throws
    // std::bad_alloc when zlib has no memory, std::runtime_error otherwise.
    explicit Inflater(int wbits);
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    z_stream& stream() noexcept { return stream_; }
    const z_stream& stream() const noexcept { return stream_; }

    // Starts a new stream with the same window (inflateReset2).
    void reset(int wbits);
    // For a raw stream, before its first inflate: the bits of a byte that a
    // previous stream left unread, and the text its copies may reach into.
    void prime(unsigned bits, unsigned value);
    void set_dictionary(std::span<const std::uint8_t> window);

    // One inflate() call on the input and output already set in stream().
    int inflate(int flush) noexcept { return ::inflate(&stream_, flush); }
    // zlib's words for the last error, or `fallback` when it gave none.
    const char* message(const char* fallback) const noexcept;

private:
    z_stream stream_{};
};

}  // namespace veltrane::gzip_index
