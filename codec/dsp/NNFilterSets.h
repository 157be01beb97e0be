// The stage-2 filter cascade of each compression level (versions 3930 and
// later). The decoder applies the filters in the listed order; the encoder in
// reverse.
#pragma once

#include <array>

namespace ape {

struct NNFilterShape {
    int order;    // taps; a multiple of 16
    int fraction; // fixed-point fraction bits of the coefficients
};

struct NNFilterSet {
    int level;                            // compression level
    int count;                            // filters used
    std::array<NNFilterShape, 3> filters; // in decoding order
};

//                                   level  count  (order, fraction) ...
constexpr std::array<NNFilterSet, 5> nnFilterSets{{
    {1000, 0, {{{0, 0}, {0, 0}, {0, 0}}}},
    {2000, 1, {{{16, 11}, {0, 0}, {0, 0}}}},
    {3000, 1, {{{64, 11}, {0, 0}, {0, 0}}}},
    {4000, 2, {{{32, 10}, {256, 13}, {0, 0}}}},
    {5000, 3, {{{16, 11}, {256, 13}, {1280, 15}}}},
}};

// The set for a level 1000..5000 in steps of 1000 (anything else: level 1000's).
constexpr const NNFilterSet& nnFilterSet(int level)
{
    int index = level / 1000 - 1;
    return nnFilterSets[(index >= 0 && index < 5) ? index : 0];
}

} // namespace ape
