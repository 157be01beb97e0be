// Cumulative frequencies of the range coder's overflow symbols 0..20; each
// table totals 65536. Symbol s occupies [cum[s], cum[s+1]); symbols 21..63
// have width 1 at 65472 + s, and 63 is the escape.
#pragma once

#include <array>
#include <cstdint>

namespace ape {

struct SymbolTable {
    std::array<std::uint16_t, 22> cum; // cumulative frequency where symbol s starts (of 65536); [21] ends symbol 20
    constexpr std::uint32_t width(int s) const { return std::uint32_t(cum[s + 1] - cum[s]); }
};

constexpr int directSymbols = 21;               // symbols looked up in a table
constexpr std::uint32_t wideSymbolBase = 65472; // cumulative position of symbol 0 of the width-1 run
constexpr std::uint32_t lastTableCum = 65492;   // codes above this are width-1 symbols
constexpr int escapeSymbol = 63;

//                                  s:   0      1      2      3      4      5      6      7      8      9     10
//                                       11     12     13     14     15     16     17     18     19     20   end
inline constexpr SymbolTable symbolTable3970{{0,     14824, 28224, 39348, 47855, 53994, 58171, 60926,
                                              62682, 63786, 64463, 64878, 65126, 65276, 65365, 65419,
                                              65450, 65469, 65480, 65487, 65491, 65493}};
inline constexpr SymbolTable symbolTable3980{{0,     19578, 36160, 48417, 56323, 60899, 63265, 64435,
                                              64971, 65232, 65351, 65416, 65447, 65466, 65476, 65482,
                                              65485, 65488, 65490, 65491, 65492, 65493}};

// Range coder interval limits: a byte is shifted in while range <= bottom.
constexpr std::uint32_t rangeTop = 1u << 31;
constexpr std::uint32_t rangeBottom = rangeTop >> 8;

// Adaptation state of a value stream at every frame start.
constexpr std::uint32_t initialK = 10;
constexpr std::uint32_t initialKSum = (1u << initialK) * 16;

} // namespace ape
