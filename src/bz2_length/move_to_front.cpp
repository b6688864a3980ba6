#include "bz2_length/move_to_front.hpp"

#include <cstring>

#include "pool/cancel.hpp"

namespace veltrane::bz2_length {

namespace {

// Appends a run of `zeros` (> 0) first positions: the length's bijective
// base-2 digits, least significant first (the bits of zeros + 1 below its top bit).
template <class Symbol>
Symbol* put_run(std::size_t zeros, Symbol* out) {
    for (std::size_t v = zeros + 1; v > 1; v >>= 1) *out++ = static_cast<Symbol>((v & 1) ? RUN_B : RUN_A);
    return out;
}

// The list itself, searched and shifted: any alphabet.
template <class Symbol>
std::size_t plain(const std::uint8_t* letters, std::size_t n, int alphabet, Symbol* symbols) {
    std::uint8_t list[256];
    for (int i = 0; i < alphabet; ++i) list[i] = static_cast<std::uint8_t>(i);
    Symbol* out = symbols;
    std::size_t zeros = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if ((i & 0xffff) == 0xffff) pool::checkpoint();
        const std::uint8_t c = letters[i];
        if (list[0] == c) {
            ++zeros;
            continue;
        }
        if (zeros) out = put_run(zeros, out), zeros = 0;
        int at = 1;
        while (list[at] != c) ++at;
        std::memmove(list + 1, list, at);
        list[0] = c;
        *out++ = static_cast<Symbol>(at + 1);
    }
    if (zeros) out = put_run(zeros, out);
    *out++ = static_cast<Symbol>(alphabet + 1);
    return out - symbols;
}

}  // namespace

std::size_t move_to_front_symbols(const std::uint8_t* letters, std::size_t n, int alphabet, std::uint16_t* symbols) {
    return plain(letters, n, alphabet, symbols);
}

namespace detail {

std::size_t move_to_front_small_portable(const std::uint8_t* letters, std::size_t n, int alphabet,
                                         std::uint8_t* symbols) {
    return plain(letters, n, alphabet, symbols);
}

// Shared with the vector version (small_move_to_front.cpp).
std::uint8_t* put_small_run(std::size_t zeros, std::uint8_t* out) { return put_run(zeros, out); }

}  // namespace detail

}  // namespace veltrane::bz2_length
