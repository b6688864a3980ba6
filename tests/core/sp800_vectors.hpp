// The recorded assessments under tests/data/sp800_90b: each NAME.bin with the
// figures of NAME.res, keyed by their label ("Literal Lag Prediction Estimate: C").
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#ifndef VELTRANE_TEST_DATA
#error "VELTRANE_TEST_DATA must name the tests/data directory"
#endif

namespace sp800_vectors {

inline const char* const NAMES[] = {"rand1_short", "rand4_short", "rand8_short",
                                    "truerand_1bit", "biased-random-bytes", "normal"};

struct Vector {
    std::vector<std::uint8_t> samples;
    unsigned width = 0;
    // "LABEL = VALUE" lines; "LABEL: VALUE" for the closing figures.
    std::map<std::string, double> figures;
    std::vector<std::string> lines;

    bool has(const std::string& label) const { return figures.count(label) != 0; }
    double at(const std::string& label) const {
        auto it = figures.find(label);
        return it == figures.end() ? std::nan("") : it->second;
    }
};

inline Vector load(const std::string& name) {
    const std::string base = std::string(VELTRANE_TEST_DATA) + "/sp800_90b/" + name;
    Vector v;
    std::ifstream bin(base + ".bin", std::ios::binary);
    v.samples.assign(std::istreambuf_iterator<char>(bin), std::istreambuf_iterator<char>());
    std::ifstream res(base + ".res");
    for (std::string line; std::getline(res, line);) {
        v.lines.push_back(line);
        auto bits = line.find("-bit-wide");
        if (line.rfind("Loaded ", 0) == 0 && bits != std::string::npos) {
            auto start = line.rfind(' ', bits);
            v.width = static_cast<unsigned>(std::stoul(line.substr(start + 1, bits - start - 1)));
        }
        auto eq = line.find(" = ");
        auto colon = line.find(": ");
        std::string label, value;
        if (eq != std::string::npos) {
            label = line.substr(0, eq), value = line.substr(eq + 3);
        } else if (colon != std::string::npos && line.find("Estimate:") == std::string::npos) {
            label = line.substr(0, colon), value = line.substr(colon + 2);
        } else {
            continue;
        }
        try {
            v.figures[label] = std::stod(value);
        } catch (...) {
            // a line with words after the label, not a figure
        }
    }
    return v;
}

// Agreement to the tool's own tolerance, 1e-10 relative (absolute near zero).
inline bool agrees(double ours, double theirs) {
    if (ours == theirs) return true;
    return std::fabs(ours - theirs) <= 1e-10 * std::max(std::fabs(theirs), 1e-300);
}

// The MSB-first bitstring of samples `width` bits wide, one bit per byte.
inline std::vector<std::uint8_t> bitstring(const std::vector<std::uint8_t>& samples, unsigned width) {
    std::vector<std::uint8_t> bits;
    bits.reserve(samples.size() * width);
    for (std::uint8_t s : samples) {
        for (unsigned b = width; b-- > 0;) bits.push_back(static_cast<std::uint8_t>((s >> b) & 1));
    }
    return bits;
}

}  // namespace sp800_vectors
