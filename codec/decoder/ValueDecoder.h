// Entropy decoding of residuals: one adaptive stream state per channel slot
// and the per-version ways of reading a value. Each reader is a small struct
// with a static decode(), so frame decoding picks one as a template argument
// once and the per-value loop carries no version test. decodeInline is for
// the loops whose decoder state is a local: inlined, it stays in registers,
// and with no filter's work to overlap the decoder's chain of dependent
// steps, it finds the common symbols without dividing (RangeDecoder::symbol)
// and starts a split value's division before its bytes are all in
// (RangeDecoder::decodeSplit).
#pragma once

#include "decoder/RangeDecoder.h"
#include "format/RangeTables.h"

#include <cstdint>

namespace ape {

// k / ksum adaptation of one value stream (reset at every frame start).
struct StreamState {
    std::uint32_t k = initialK;
    std::uint32_t kSum = initialKSum;

    void reset()
    {
        k = initialK;
        kSum = initialKSum;
    }
    // The running sum alone: all that pivot-coded values depend on (k would
    // only feed its own updates there).
    void updateSum(std::uint32_t x) { kSum = kSum + (x + 1) / 2 - ((kSum + 16) >> 5); }
    void update(std::uint32_t x)
    {
        std::uint32_t limit = k ? 1u << (k + 4) : 0;
        updateSum(x);
        if (kSum < limit)
            --k;
        else if (kSum >= (1u << (k + 5)) && k < 24)
            ++k;
    }
};

// 0, 1, 2, 3, 4 ... -> 0, 1, -1, 2, -2 ...
inline std::int32_t foldedToSigned(std::uint32_t x)
{
    return (x & 1) ? std::int32_t((x >> 1) + 1) : std::int32_t(0u - (x >> 1));
}

// How a pivot of 2^16 or more finds the shift that brings it below 2^16.
// The pivot's width follows the values' running sum: where the sum wanders,
// a loop's count mispredicts; where it is steady, the loop costs nothing.
// Counting leading zeros takes a cycle with lzcnt, but bsr, the count
// without lzcnt, lengthens the chain from one value to the next by more than
// the loop's mispredictions cost. So only code compiled for lzcnt counts.
enum class PivotScan { stepped, lzcnt };

// Version 3990: the base is coded against a divisor taken from ksum.
struct PivotValues {
    template <PivotScan Scan = PivotScan::stepped>
    static std::int32_t decode(RangeDecoder& rc, StreamState& s)
    {
        if constexpr (Scan == PivotScan::lzcnt)
            return decodeCounting(rc, s);
        else
            return read<false, PivotScan::stepped>(rc, s);
    }
    // decode() for callers compiled for lzcnt. It carries the target itself:
    // compiled for the baseline, the count would become bsr.
    [[gnu::target("lzcnt")]] static std::int32_t decodeCounting(RangeDecoder& rc, StreamState& s)
    {
        return read<false, PivotScan::lzcnt>(rc, s);
    }
    template <PivotScan Scan = PivotScan::stepped>
    [[gnu::always_inline]] static std::int32_t decodeInline(RangeDecoder& rc, StreamState& s)
    {
        return read<true, Scan>(rc, s);
    }
    // ChainBound: the forms of decodeInline. A split value's division goes
    // first only in the 32-bit build, which spills the bytes' loop before
    // it; the 64-bit build keeps that loop in registers, and the other form's
    // extra instructions cost it more than they save.
    template <bool ChainBound, PivotScan Scan>
    [[gnu::always_inline]] static std::int32_t read(RangeDecoder& rc, StreamState& s)
    {
        std::uint32_t pivot = s.kSum >> 5;
        if (pivot == 0)
            pivot = 1;
        std::uint32_t overflow = rc.symbol<ChainBound>(symbolIndex3980);
        if (overflow == escapeSymbol) {
            std::uint32_t high = rc.bits(16);
            overflow = (high << 16) | rc.bits(16);
        }
        std::uint32_t base;
        if (pivot < 0x10000) {
            base = rc.decodeFrequency(Reciprocal::tabled(pivot));
            rc.update(1, base);
        } else {
            int shift = 0;
            if constexpr (Scan == PivotScan::lzcnt) {
                shift = 16 - __builtin_clz(pivot);
            } else {
                while ((pivot >> shift) >= 0x10000)
                    ++shift;
            }
            if (shift <= 8) {
                constexpr bool byteFirst = ChainBound && sizeof(void*) == 4;
                base = rc.decodeSplit<byteFirst>(Reciprocal::tabled((pivot >> shift) + 1), unsigned(shift));
            } else {
                std::uint32_t high = rc.decodeFrequency(Reciprocal::tabled((pivot >> shift) + 1));
                rc.update(1, high);
                std::uint32_t low = rc.decodeFrequency(1u << shift);
                rc.update(1, low);
                base = (high << shift) + low;
            }
        }
        std::uint32_t x = base + overflow * pivot;
        s.updateSum(x);
        return foldedToSigned(x);
    }
};

// Versions 3900..3989: k bits below the overflow symbol. From 3910 on a
// value wider than 16 bits is read in two halves (Split).
template <bool Split>
struct KValues {
    template <PivotScan = PivotScan::stepped>
    static std::int32_t decode(RangeDecoder& rc, StreamState& s)
    {
        return read<false>(rc, s);
    }
    template <PivotScan = PivotScan::stepped>
    [[gnu::always_inline]] static std::int32_t decodeInline(RangeDecoder& rc, StreamState& s)
    {
        return read<true>(rc, s);
    }
    template <bool Undivided>
    [[gnu::always_inline]] static std::int32_t read(RangeDecoder& rc, StreamState& s)
    {
        std::uint32_t overflow = rc.symbol<Undivided>(symbolIndex3970);
        std::uint32_t bitCount;
        if (overflow == escapeSymbol) {
            bitCount = rc.bits(5);
            overflow = 0;
        } else {
            bitCount = s.k < 1 ? 0 : s.k - 1;
        }
        std::uint32_t x;
        if (bitCount <= 16 || !Split) {
            if (bitCount > 23) {
                rc.fail();
                bitCount = 0;
            }
            x = rc.bits(bitCount);
        } else {
            x = rc.bits(16);
            x |= rc.bits(bitCount - 16) << 16;
        }
        x += overflow << bitCount;
        s.update(x);
        return foldedToSigned(x);
    }
};

} // namespace ape
