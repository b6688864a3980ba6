// A battery state as a compact, versioned byte string, to store a piece's
// state or send it to the machine that merges the pieces.
//
// Layout (version 1): "VLTB", the version byte, a flags byte (bit 0: case
// folded), then LEB128 varints: start, size, the 256 counts, the adjacent
// products (up to 128 bits), the seam bit pairs, the Monte Carlo hits; then
// the first and last byte (when not empty), the lead and trail bytes (their
// lengths follow from start and size), and a CRC-32 of everything before it,
// least significant byte first. Group counts are not stored: they follow
// from start and size too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "battery/state.hpp"

namespace veltrane::battery {

inline constexpr std::uint8_t STATE_FORMAT_VERSION = 1;

std::string serialize(const State& state);

// Reads what serialize wrote. Throws std::invalid_argument naming the fault
// for anything else: another format or version, a bad checksum, truncated or
// trailing bytes, and values that no range of bytes could produce.
State deserialize(const std::uint8_t* data, std::size_t n);
inline State deserialize(const std::string& bytes) {
    return deserialize(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// CRC-32 (the reflected 0xEDB88320 polynomial of zlib and PNG).
std::uint32_t crc32(const std::uint8_t* data, std::size_t n);

}  // namespace veltrane::battery
