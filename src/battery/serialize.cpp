#include "battery/serialize.hpp"

#include <array>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace veltrane::battery {

namespace {

constexpr char MAGIC[4] = {'V', 'L', 'T', 'B'};
constexpr std::uint8_t FLAG_CASE_FOLDED = 1;

void put_varint(std::string& out, UInt128 v) {
    do {
        std::uint8_t byte = static_cast<std::uint8_t>(v & 0x7F);
        v >>= 7;
        if (v != 0) byte |= 0x80;
        out.push_back(static_cast<char>(byte));
    } while (v != 0);
}

[[noreturn]] void corrupted(const std::string& why) {
    throw std::invalid_argument("not a valid battery state: " + why);
}

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t n) : p_(data), end_(data + n) {}

    std::uint8_t byte(const char* what) {
        if (p_ == end_) corrupted(std::string("it ends inside ") + what);
        return *p_++;
    }

    // A varint of at most `bits` bits, in its shortest form.
    UInt128 varint(unsigned bits, const char* what) {
        UInt128 v = 0;
        for (unsigned shift = 0;; shift += 7) {
            const std::uint8_t b = byte(what);
            const UInt128 part = b & 0x7F;
            if (shift >= bits || (bits - shift < 7 && (part >> (bits - shift)) != 0)) {
                corrupted(std::string(what) + " is out of range");
            }
            v |= part << shift;
            if ((b & 0x80) == 0) {
                if (b == 0 && shift > 0) corrupted(std::string(what) + " is not in its shortest form");
                return v;
            }
        }
    }

    std::uint64_t u64(const char* what) { return static_cast<std::uint64_t>(varint(64, what)); }
    std::size_t consumed(const std::uint8_t* begin) const { return static_cast<std::size_t>(p_ - begin); }
    bool at_end() const { return p_ == end_; }

private:
    const std::uint8_t* p_;
    const std::uint8_t* end_;
};

constexpr std::array<std::uint32_t, 256> CRC_TABLE = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}();

}  // namespace

std::uint32_t crc32(const std::uint8_t* data, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) c = CRC_TABLE[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

std::string serialize(const State& s) {
    std::string out(MAGIC, sizeof MAGIC);
    out.push_back(static_cast<char>(STATE_FORMAT_VERSION));
    out.push_back(static_cast<char>(s.case_folded ? FLAG_CASE_FOLDED : 0));
    put_varint(out, s.start);
    put_varint(out, s.size);
    for (std::uint64_t c : s.histogram) put_varint(out, c);
    put_varint(out, s.adjacent_products);
    put_varint(out, s.seam_bit_pairs);
    put_varint(out, s.mc_hits);
    if (s.size > 0) {
        out.push_back(static_cast<char>(s.first));
        out.push_back(static_cast<char>(s.last));
    }
    out.append(reinterpret_cast<const char*>(s.lead.data()), lead_length(s.start, s.size));
    out.append(reinterpret_cast<const char*>(s.trail.data()), trail_length(s.start, s.size));
    const std::uint32_t crc = crc32(reinterpret_cast<const std::uint8_t*>(out.data()), out.size());
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<char>((crc >> (8 * k)) & 0xFF));
    return out;
}

State deserialize(const std::uint8_t* data, std::size_t n) {
    if (n < sizeof MAGIC + 2 || std::memcmp(data, MAGIC, sizeof MAGIC) != 0) {
        corrupted("it does not begin with the battery state marker");
    }
    if (data[4] != STATE_FORMAT_VERSION) {
        throw std::invalid_argument("unsupported battery state format version " + std::to_string(data[4]) +
                                    " (this build reads version " + std::to_string(STATE_FORMAT_VERSION) + ")");
    }
    if (n < sizeof MAGIC + 2 + 4) corrupted("it is truncated");
    const std::uint32_t stored = static_cast<std::uint32_t>(data[n - 4]) | static_cast<std::uint32_t>(data[n - 3]) << 8 |
                                 static_cast<std::uint32_t>(data[n - 2]) << 16 |
                                 static_cast<std::uint32_t>(data[n - 1]) << 24;
    if (crc32(data, n - 4) != stored) corrupted("its checksum does not match (damaged or truncated)");

    Reader in(data + 6, n - 10);
    const std::uint8_t flags = data[5];
    if ((flags & ~FLAG_CASE_FOLDED) != 0) corrupted("unknown flags");
    State s;
    s.case_folded = (flags & FLAG_CASE_FOLDED) != 0;
    s.start = in.u64("the start offset");
    s.size = in.u64("the size");
    if (s.size > std::numeric_limits<std::uint64_t>::max() - s.start) corrupted("the range ends past 2^64 - 1");
    UInt128 total = 0;
    for (std::uint64_t& c : s.histogram) {
        c = in.u64("the histogram");
        total += c;
    }
    if (total != s.size) corrupted("the histogram does not add up to the size");
    s.adjacent_products = in.varint(128, "the adjacent products");
    s.seam_bit_pairs = in.u64("the seam bit pairs");
    s.mc_hits = in.u64("the Monte Carlo hits");
    s.mc_groups = complete_groups(s.start, s.size);
    const std::uint64_t pairs = s.size == 0 ? 0 : s.size - 1;
    if (s.adjacent_products > UInt128{pairs} * (255 * 255)) corrupted("the adjacent products are out of range");
    if (s.seam_bit_pairs > pairs) corrupted("the seam bit pairs are out of range");
    if (s.mc_hits > s.mc_groups) corrupted("more Monte Carlo hits than groups");
    if (s.size > 0) {
        s.first = in.byte("the end bytes");
        s.last = in.byte("the end bytes");
        if (s.histogram[s.first] == 0 || s.histogram[s.last] == 0) corrupted("an end byte is not in the histogram");
    }
    const std::uint64_t lead = lead_length(s.start, s.size), trail = trail_length(s.start, s.size);
    for (std::uint64_t i = 0; i < lead; ++i) s.lead[i] = in.byte("the cut groups");
    for (std::uint64_t i = 0; i < trail; ++i) s.trail[i] = in.byte("the cut groups");
    if (s.size > 0 && lead > 0 && s.lead[0] != s.first) corrupted("the cut groups disagree with the end bytes");
    if (s.size > 0 && trail > 0 && s.trail[trail - 1] != s.last) corrupted("the cut groups disagree with the end bytes");
    if (!in.at_end()) corrupted("it has bytes after the state");
    return s;
}

}  // namespace veltrane::battery
