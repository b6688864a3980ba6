#include "strings/frag/byte_suffix_array.hpp"

#include <divsufsort.h>
#include <divsufsort64.h>

#include <cstddef>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "pool/cancel.hpp"

namespace veltrane::strings::frag {

namespace {

// The library answers -1 for arguments it rejects (never the case here) and -2
// when it runs out of memory.
void check(long status) {
    if (status == -2) throw std::bad_alloc();
    if (status != 0) throw std::logic_error("divsufsort rejected its arguments");
}

}  // namespace

void build_byte_suffix_array(const std::uint8_t* s, std::uint64_t n, std::uint64_t* sa) {
    pool::checkpoint();
    if (n == 0) return;
    // Signed and unsigned variants of one integer type may alias each other.
    check(divsufsort64(s, reinterpret_cast<saidx64_t*>(sa), static_cast<saidx64_t>(n)));
    pool::checkpoint();
}

void build_byte_suffix_array(const std::uint8_t* s, std::uint32_t n, std::uint32_t* sa) {
    pool::checkpoint();
    if (n == 0) return;
    if (n <= static_cast<std::uint32_t>(std::numeric_limits<saidx_t>::max())) {
        check(divsufsort(s, reinterpret_cast<saidx_t*>(sa), static_cast<saidx_t>(n)));
    } else {
        // 2 Gi to 4 Gi bytes: the 32-bit variant's signed indices stop short of n.
        std::vector<saidx64_t> wide(n);
        check(divsufsort64(s, wide.data(), static_cast<saidx64_t>(n)));
        for (std::size_t i = 0; i < n; ++i) sa[i] = static_cast<std::uint32_t>(wide[i]);
    }
    pool::checkpoint();
}

}  // namespace veltrane::strings::frag
