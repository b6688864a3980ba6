#include "bz2_length/run_length.hpp"

#include <cstring>

#include "bz2_length/format.hpp"

namespace veltrane::bz2_length {

std::size_t RunLengthBlocks::next(std::uint8_t* out) {
    std::size_t size = 0;
    while (at_ < n_) {
        const std::uint8_t c = text_[at_];
        std::size_t run = 1;
        while (run < LONGEST_RUN && at_ + run < n_ && text_[at_ + run] == c) ++run;
        at_ += run;
        if (run < RUN_THRESHOLD) {
            std::memset(out + size, c, run);
            size += run;
        } else {
            std::memset(out + size, c, RUN_THRESHOLD);
            out[size + RUN_THRESHOLD] = static_cast<std::uint8_t>(run - RUN_THRESHOLD);
            size += RUN_THRESHOLD + 1;
        }
        if (size >= capacity_) {
            // The check for a full block comes after the next byte is taken:
            // if that byte is the input's last, it joins this block.
            if (n_ - at_ == 1) out[size++] = text_[at_++];
            break;
        }
    }
    return size;
}

}  // namespace veltrane::bz2_length
