#include "sp800_90b_iid/shuffle.hpp"

#include <utility>

#include "pool/cancel.hpp"

namespace veltrane::sp800_90b::iid {

void shuffle(Xoshiro256& rng, std::uint8_t* a, std::size_t n) {
    for (std::size_t i = n; i-- > 1;) {
        if ((i & 0xFFFF) == 0) pool::checkpoint();
        std::swap(a[i], a[rng.draw(i)]);
    }
}

}  // namespace veltrane::sp800_90b::iid
