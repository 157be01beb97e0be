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
    // A value coded as a part against `total` (2^15 < total <= 2^16)
    // followed by `shift` (1..8) more bits, (high << shift) + low, as those
    // two steps give it with one division instead of three. high's divisor
    // s = range / total is below 2^17, so the normalisation between the steps
    // brings in k >= 1 bytes B, and the low part is divided by s << j,
    // j = 8k - shift. high's remainder with B below it over that divisor is
    // low; so the old `low` with B below it over s << j is (high << shift) +
    // low, and its remainder the state after both steps.
    //
    // With ByteFirst, the j low bits of both sides are dropped: `low` with
    // B's top `shift` bits, all in B's first byte, over s. The division then
    // need not wait for k, and the bytes after the first come in behind it.
    // That shortens the chain from one value to the next, which pays where
    // the chain sets the speed; where filters' work overlaps it, the extra
    // instructions cost more.
    //
    // low < range on entry (only a clamped overflow symbol leaves it larger,
    // and bits() follow that), so the quotient fits 32 bits; the tests of
    // the dividend's high half guard the division instruction all the same.
    template <bool ByteFirst>
    [[gnu::always_inline]] std::uint32_t decodeSplit(const Reciprocal& total, unsigned shift)
    {
        normalise();
        if constexpr (ByteFirst) {
            const std::uint32_t scaled = total.divide(range);
            const std::uint32_t first = in->nextStraddling();
            const unsigned rest = 8 - shift; // the first byte's bits below those the division takes
            const std::uint32_t top = first >> rest;
            const std::uint32_t high = low >> (32 - shift), below = (low << shift) | top;
            std::uint32_t quotient, remainder;
            if (high < scaled) {
                quotient = divideNarrowing(high, below, scaled, remainder);
            } else {
                const std::uint64_t n = (std::uint64_t(high) << 32) | below;
                quotient = std::uint32_t(n / scaled);
                remainder = std::uint32_t(n % scaled);
            }
            // The remainder with the first byte's other bits below it.
            low = ((remainder - top) << rest) + first;
            range = scaled << rest;
            for (std::uint32_t more = scaled; more <= (rangeBottom >> 8); more <<= 8) {
                low = (low << 8) | in->nextStraddling();
                range <<= 8;
            }
            return quotient;
        } else {
            std::uint32_t scaled = total.divide(range);
            std::uint64_t wide = low;
            while (scaled <= rangeBottom) {
                wide = (wide << 8) | in->nextStraddling();
                scaled <<= 8;
            }
            range = scaled >> shift;
            if ((wide >> 32) < range)
                return divideNarrowing(std::uint32_t(wide >> 32), std::uint32_t(wide), range, low);
            low = std::uint32_t(wide % range);
            return std::uint32_t(wide / range);
        }
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
    // One overflow symbol 0..63 against a frequency table. Undivided, the
    // first four symbols, which most values take, are found without a
    // division: cum <= low / h exactly when h * cum <= low, and those
    // products do not wait for one another, whereas the division and the
    // table search after it lie on the chain from one value to the next.
    // Which of them it is, is a coin toss, so masks pick it, not branches.
    // That pays where the chain sets the speed; where filters' work overlaps
    // it, the division's fewer instructions cost less.
    template <bool Undivided>
    [[gnu::always_inline]] std::uint32_t symbol(const SymbolIndex& index)
    {
        const SymbolTable& table = index.table;
        normalise();
        const std::uint32_t h = range >> 16; // < 2^16, so h * cum < 2^32
        if constexpr (Undivided) {
            // Spelt out: as arrays, GCC kept them in memory in some loops.
            const std::uint32_t width0 = h * table.width(0), width1 = h * table.width(1), width2 = h * table.width(2),
                                width3 = h * table.width(3);
            const std::uint32_t start2 = width0 + width1, start3 = start2 + width2;
            if (low < start3 + width3) [[likely]] {
                // All ones where low has passed the start of symbol 1, 2, 3.
                const std::uint32_t past1 = 0u - std::uint32_t(low >= width0),
                                    past2 = 0u - std::uint32_t(low >= start2),
                                    past3 = 0u - std::uint32_t(low >= start3);
                low -= (width0 & past1) + (width1 & past2) + (width2 & past3);
                range = (width0 & ~past1) + (width1 & (past1 ^ past2)) + (width2 & (past2 ^ past3)) + (width3 & past3);
                return (past1 & 1) + (past2 & 1) + (past3 & 1);
            }
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
