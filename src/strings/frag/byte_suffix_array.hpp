// Suffix array of a byte sequence by libdivsufsort, in the order of
// build_suffix_array (a suffix that is a prefix of another sorts first; no
// sentinel, 0 is an ordinary byte). The library's 32-bit variant serves
// inputs below 2 Gi bytes, its 64-bit variant the rest.
#pragma once

#include <cstdint>

namespace veltrane::strings::frag {

// Fills sa[0..n). Throws std::bad_alloc when the library cannot get its
// working memory. Runs without checkpoints: about a second per 20 MB.
void build_byte_suffix_array(const std::uint8_t* s, std::uint32_t n, std::uint32_t* sa);
void build_byte_suffix_array(const std::uint8_t* s, std::uint64_t n, std::uint64_t* sa);

}  // namespace veltrane::strings::frag
