// Where the repeats of a corpus can be, found before any suffix is sorted: the
// suffix sort costs about as much as everything else together, and most of a
// corpus of real text holds no string of 100 bytes that occurs twice. The
// search runs on these regions alone and finds what it finds on the corpus
// (shared_repeats.cpp says why).
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "corpus/corpus_text.hpp"

namespace veltrane::corpus {

struct Region {
    std::uint64_t start, end;  // bytes [start, end) of the corpus
};

// regions: disjoint, in corpus order, each inside one document, none touching
// another of its document. links: pairs of indices of regions that share a
// sampled string; the occurrences of a repeat lie in regions that these links
// connect when `sampled`; unsampled regions (whole documents) may all be linked.
struct RepeatRegions {
    std::vector<Region> regions;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> links;
    bool sampled = false;
};

// From this min_length on the regions are sampled; below it every
// non-empty document is a region of its own.
inline constexpr std::uint64_t SAMPLED_FROM = 32;

// Regions such that every occurrence (inside a document) of every string of
// at least `min_length` bytes that occurs at least twice lies inside one
// region. They may hold more. O(n) on the worker pool, plus a sort of about
// n / (min_length / 4) samples.
//
// How: every window of t = min_length / 2 bytes picks an anchor, the start of
// its smallest 8-byte hash (the rightmost of equal ones), a choice that only
// the window's bytes decide; the anchor stands for the min_length - t bytes
// from it. Two occurrences of a string w of at least min_length bytes pick
// the same anchors at the same offsets, so each window of min_length bytes of
// an occurrence holds an anchor whose bytes occur twice. A byte x of an
// occurrence therefore lies within [a - (t - 8), a + min_length) of some
// such anchor a; the regions are those ranges, merged. The anchors an
// occurrence holds are the same in every occurrence: a link joins the regions
// of every two anchors of one fingerprint.
RepeatRegions repeat_regions(const CorpusText& text, std::uint64_t min_length);

}  // namespace veltrane::corpus
