#include "gzip_index/inflater.hpp"

#include <new>
#include <stdexcept>
#include <string>

namespace veltrane::gzip_index {

namespace {

void check(int status, const char* what) {
    if (status == Z_OK) return;
    if (status == Z_MEM_ERROR) throw std::bad_alloc();
    throw std::runtime_error(std::string("zlib's ") + what + " failed with status " + std::to_string(status));
}

}  // namespace

Inflater::Inflater(int wbits) { check(inflateInit2(&stream_, wbits), "inflateInit2"); }

Inflater::~Inflater() { inflateEnd(&stream_); }

void Inflater::reset(int wbits) { check(inflateReset2(&stream_, wbits), "inflateReset2"); }

void Inflater::prime(unsigned bits, unsigned value) {
    if (bits == 0) return;
    check(inflatePrime(&stream_, static_cast<int>(bits), static_cast<int>(value)), "inflatePrime");
}

void Inflater::set_dictionary(std::span<const std::uint8_t> window) {
    if (window.empty()) return;
    check(inflateSetDictionary(&stream_, window.data(), static_cast<uInt>(window.size())), "inflateSetDictionary");
}

const char* Inflater::message(const char* fallback) const noexcept {
    return stream_.msg != nullptr ? stream_.msg : fallback;
}

}  // namespace veltrane::gzip_index
