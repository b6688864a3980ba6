// Driving the gzip index the way its callers do, for the core tests and the
// fuzz target: the survey fed a file in chunks of a chosen size, and a reader
// fed from a checkpoint's offset until the file ends.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "gzip_index/reader.hpp"
#include "gzip_index/survey.hpp"

namespace gzip_drive {

namespace gi = veltrane::gzip_index;

inline gi::SurveyResult survey(std::span<const std::uint8_t> file, std::uint64_t spacing, std::size_t chunk) {
    gi::Survey s(spacing);
    for (std::size_t at = 0; at < file.size(); at += chunk) {
        if (!s.feed(file.subspan(at, std::min(chunk, file.size() - at)))) break;
    }
    return s.finish();
}

// The reader's whole output from `c`, fed `in_chunk` bytes at a time and taking
// at most `out_chunk` bytes a call. Throws gi::DataError as the reader does.
inline std::string read_from(std::span<const std::uint8_t> file, const gi::Checkpoint& c, std::size_t in_chunk,
                             std::size_t out_chunk) {
    gi::Reader reader(c);
    std::string text;
    std::vector<std::uint8_t> out(out_chunk);
    std::size_t at = c.offset;
    while (!reader.eof()) {
        std::span<const std::uint8_t> in;
        if (reader.needs_input()) {
            if (at >= file.size()) {
                reader.finish();
                continue;
            }
            in = file.subspan(at, std::min(in_chunk, file.size() - at));
            at += in.size();
        }
        text.append(reinterpret_cast<const char*>(out.data()), reader.decompress(in, out));
    }
    return text;
}

}  // namespace gzip_drive
