// The range decoder (versions 3900 and later) over a frame's logical bytes.
// Normalisation always runs, even past the frame's end (the reader then
// supplies zeros and flags the overrun), so `range` exceeds 2^23 before every
// division and `help` is never 0.
//
// The decoder is a small value: a loop that writes samples works on a local
// copy and stores it back at the end, since the compiler must otherwise keep
// `low` and `range` in memory for fear that a sample store changes them.
// Its per-value steps are always inlined, into the AVX2-encoded loops too.
#pragma once

#include "decoder/FrameReader.h"
#include "decoder/Reciprocal.h"
#include "format/RangeTables.h"

#include <array>
#include <cstdint>

namespace ape {

// A frequency table with a start index per 128 cumulative counts, so that a
// symbol is found with at most a step or two instead of a search.
struct SymbolIndex {
    static constexpr int shift = 7;
    const SymbolTable& table;
    std::array<std::uint8_t, (lastTableCum >> shift) + 1> start{};

    constexpr explicit SymbolIndex(const SymbolTable& t) : table(t)
    {
        for (std::size_t i = 0; i < start.size(); ++i) {
            std::uint32_t cf = std::uint32_t(i) << shift;
            std::uint8_t s = 0;
            while (table.cum[s + 1] <= cf)
                ++s;
            start[i] = s;
        }
    }
};

inline constexpr SymbolIndex symbolIndex3970{symbolTable3970};
inline constexpr SymbolIndex symbolIndex3980{symbolTable3980};

class RangeDecoder {
public:
    explicit RangeDecoder(FrameReader& in) : in(&in) {}

    void start()
    {
        low = in->next() >> 1;
        range = 1u << 7;
    }
    [[gnu::always_inline]] void normalise()
    {
        while (range <= rangeBottom) {
            low = (low << 8) | in->nextStraddling();
            range <<= 8;
        }
    }
    [[gnu::always_inline]] std::uint32_t decodeFrequency(std::uint32_t total)
    {
        normalise();
        help = range / total;
        return low / help;
    }
    [[gnu::always_inline]] std::uint32_t decodeFrequency(const Reciprocal& total)
    {
        normalise();
        help = total.divide(range);
        return low / help;
    }
    // A value coded as a part against `total` followed by 1..8 more bits,
    // (high << shift) + low, as those two steps give it with one division
    // instead of three. high's divisor h = range / total is at most 2^16, so
    // the normalisation between the steps brings in k >= 8 bits of stream,
    // and the low part is divided by h << (k - shift). high's remainder with
    // the new bits below it over that divisor is low; so the old `low` with
    // the new bits below it over h << (k - shift) is (high << shift) + low,
    // and its remainder the state after both steps.
    [[gnu::always_inline]] std::uint32_t decodeSplit(const Reciprocal& total, unsigned shift)
    {
        normalise();
        std::uint32_t scaled = total.divide(range);
        std::uint64_t wide = low;
        while (scaled <= rangeBottom) {
            wide = (wide << 8) | in->nextStraddling();
            scaled <<= 8;
        }
        range = scaled >> shift;
        // low < range on entry (only a clamped overflow symbol leaves it
        // larger, and bits() follow that), so the quotient fits 32 bits; the
        // test guards the division instruction all the same.
        if ((wide >> 32) < range)
            return divideNarrowing(std::uint32_t(wide >> 32), std::uint32_t(wide), range, low);
        low = std::uint32_t(wide % range);
        return std::uint32_t(wide / range);
    }
    [[gnu::always_inline]] std::uint32_t decodeShift(unsigned shift)
    {
        normalise();
        help = range >> shift;
        return low / help;
    }
    [[gnu::always_inline]] void update(std::uint32_t width, std::uint32_t start)
    {
        low -= help * start;
        range = help * width;
    }
    // `count` <= 23. Corrupt data can decode a value beyond `count` bits:
    // that fails the frame, and the value is cut to size so callers stay in range.
    [[gnu::always_inline]] std::uint32_t bits(unsigned count)
    {
        std::uint32_t v = decodeShift(count);
        update(1, v);
        if (v >> count) {
            hasFailed = true;
            v &= (1u << count) - 1;
        }
        return v;
    }
    // One overflow symbol 0..63 against a frequency table. The first few
    // symbols, which most values take, are found without a division:
    // cum <= low / h exactly when h * cum <= low, and those products do not
    // wait for one another, whereas the division and the table search after
    // it lay on the chain from one value to the next. Which of them it is,
    // is a coin toss, so masks pick it, not branches; a rarer symbol takes
    // the one branch to the division.
    [[gnu::always_inline]] std::uint32_t symbol(const SymbolIndex& index)
    {
        const SymbolTable& table = index.table;
        normalise();
        const std::uint32_t h = range >> 16; // < 2^16, so h * cum < 2^32
        constexpr int fast = 4;
        std::uint32_t width[fast], start[fast + 1];
        start[0] = 0;
        for (int s = 0; s < fast; ++s) {
            width[s] = h * table.width(s);
            start[s + 1] = start[s] + width[s];
        }
        if (low < start[fast]) [[likely]] {
            std::uint32_t past[fast + 1]; // all ones where low >= start[s]
            past[0] = ~0u;
            past[fast] = 0;
            for (int s = 1; s < fast; ++s)
                past[s] = 0u - std::uint32_t(low >= start[s]);
            std::uint32_t below = 0, span = 0, symbol = 0;
            for (int s = 0; s < fast; ++s) {
                below += width[s] & past[s + 1];
                span += width[s] & (past[s] ^ past[s + 1]);
                symbol += past[s + 1] & 1;
            }
            low -= below;
            range = span;
            return symbol;
        }
        help = h;
        std::uint32_t cf = low / help;
        if (cf > lastTableCum) {
            if (cf > 0xFFFF) {
                hasFailed = true;
                cf = 0xFFFF;
            }
            update(1, cf);
            return cf - wideSymbolBase;
        }
        int s = index.start[cf >> SymbolIndex::shift];
        while (table.cum[s + 1] <= cf)
            ++s;
        update(table.width(s), table.cum[s]);
        return std::uint32_t(s);
    }
    void fail() { hasFailed = true; }
    bool failed() const { return hasFailed || in->overrun(); }
    void clearFailure() { hasFailed = false; }
    FrameReader& reader() { return *in; }

private:
    FrameReader* in;
    std::uint32_t low = 0;
    std::uint32_t range = 0;
    std::uint32_t help = 1;
    bool hasFailed = false;
};

} // namespace ape
