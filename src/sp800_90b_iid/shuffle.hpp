// One round's shuffle of the permutation test, as NIST's tool makes it:
// Fisher-Yates from the last position down to the second, each swapping
// position i with a draw in [0, i].
#pragma once

#include <cstddef>
#include <cstdint>

#include "sp800_90b_iid/xoshiro.hpp"

namespace veltrane::sp800_90b::iid {

// Shuffles a[0, n) in place, drawing n - 1 indices (and, very rarely, a few
// more) from `rng`. Calls pool::checkpoint() as it goes.
void shuffle(Xoshiro256& rng, std::uint8_t* a, std::size_t n);

}  // namespace veltrane::sp800_90b::iid
