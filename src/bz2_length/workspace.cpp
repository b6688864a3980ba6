#include "bz2_length/workspace.hpp"

namespace veltrane::bz2_length {

namespace {

template <class T>
std::size_t held(const std::vector<T>& v) {
    return v.capacity() * sizeof(T);
}

}  // namespace

std::size_t Workspace::footprint() const {
    const RotationScratch& r = rotations;
    return sizeof(*this) + held(block) + held(values) + held(tokens) + held(order) + held(before) + held(letters) +
           held(symbols) + held(group_counts) + held(r.items) + held(r.spare) + held(r.folded) + held(r.bucket_ends) +
           held(r.group_of) + held(r.groups) + held(r.pending) + held(r.seeing) + held(r.rest) + held(r.leaving) + held(coding.selectors);
}

}  // namespace veltrane::bz2_length
