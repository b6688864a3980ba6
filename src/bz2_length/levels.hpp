// The one check of the block-size level both entry points share.
#pragma once

#include <stdexcept>
#include <string>

#include "bz2_length/format.hpp"

namespace veltrane::bz2_length {

inline void check_level(int level) {
    if (level < 1 || level > MAX_LEVEL)
        throw std::invalid_argument("bz2 block size level must be 1 to 9, not " + std::to_string(level));
}

}  // namespace veltrane::bz2_length
