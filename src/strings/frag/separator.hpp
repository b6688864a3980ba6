// A separator joins sequences searched as one: a symbol value that matches
// nothing, itself included, as if each of its occurrences were a symbol of
// its own. No fragment that occurs twice can hold one.
#pragma once

#include <cstdint>

namespace veltrane::strings::frag {

// The separator of a sequence that has none: no symbol takes this value.
inline constexpr std::uint64_t NO_SEPARATOR = UINT64_MAX;

}  // namespace veltrane::strings::frag
