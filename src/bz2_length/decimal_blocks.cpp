#include "bz2_length/decimal_blocks.hpp"

namespace veltrane::bz2_length {

namespace {

// Where the capacity cuts a value's digits at `cut` (0 < cut < length), the
// block takes the rest of a run of equal digits.
int end_of_run(const Token& t, int cut) {
    while (cut > 0 && cut < t.length && t.digits[cut] == t.digits[cut - 1]) ++cut;
    return cut;
}

// A lone byte left at the end of the text joins the block before it.
int last_byte_joins(const Token& t, int cut, bool last_value) { return last_value && cut + 1 == t.length ? t.length : cut; }

void append(Token& to, const Token& from, int begin, int end) {
    for (int j = begin; j < end; ++j) to.digits[to.length++] = from.digits[j];
}

}  // namespace

bool DecimalBlocks::next(std::vector<std::uint16_t>& tokens, DecimalBlock& block) {
    block = DecimalBlock{};
    if (value_ >= n_) return false;
    const Token& first = VALUE_TOKENS[values_[value_]];
    const bool last_value = value_ + 1 == n_;
    if (last_value && offset_ == first.length) return false;  // the text has ended

    // The block's first bytes up to its first space: the rest of a value's digits.
    const std::size_t head = first.length - offset_;
    if (last_value || head >= capacity_) {
        // No space in reach: the block is (part of) one value's digits.
        int end = first.length;
        if (!last_value || head > capacity_) end = last_byte_joins(first, end_of_run(first, offset_ + static_cast<int>(capacity_)), last_value);
        append(block.wrap, first, offset_, end);
        block.length = end - offset_;
        offset_ = end;
        return true;
    }
    const int head_begin = offset_;
    std::size_t length = head + 1;
    std::size_t v = value_ + 1;
    // Whole values with their spaces, while they fit: at most one per 2 bytes.
    if (tokens.size() < capacity_ / 2 + 1) tokens.resize(capacity_ / 2 + 1);
    std::uint16_t* out = tokens.data();
    for (; v + 1 < n_; ++v) {
        const std::size_t step = VALUE_TOKENS[values_[v]].length + 1;
        if (length + step > capacity_) break;
        *out++ = values_[v];
        length += step;
    }
    block.values = static_cast<std::size_t>(out - tokens.data());
    // The value the block ends in: to its end if the text ends there, else
    // where the capacity falls, carried to the end of a run of equal digits.
    const Token& tail = VALUE_TOKENS[values_[v]];
    int cut = tail.length;
    if (!(v + 1 == n_ && length + tail.length <= capacity_))
        cut = last_byte_joins(tail, end_of_run(tail, static_cast<int>(capacity_ - length)), v + 1 == n_);
    append(block.wrap, tail, 0, cut);
    append(block.wrap, first, head_begin, first.length);
    block.length = length + cut;
    block.has_space = true;
    value_ = v;
    offset_ = cut;
    return true;
}

}  // namespace veltrane::bz2_length
