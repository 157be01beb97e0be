// The range decoder (versions 3900 and later) over a frame's logical bytes.
// Normalisation always runs, even past the frame's end (the reader then
// supplies zeros and flags the overrun), so `range` exceeds 2^23 before every
// division and `help` is never 0.
#pragma once

#include "FrameReader.h"
#include "format/RangeTables.h"

#include <array>
#include <cstdint>

namespace ape {

// A frequency table with a start index per 128 cumulative counts, so that a
// symbol is found with at most a step or two instead of a search.
struct SymbolIndex {
    static constexpr int shift = 7;
    const SymbolTable& table;
    std::array<uint8_t, (lastTableCum >> shift) + 1> start{};

    constexpr explicit SymbolIndex(const SymbolTable& t) : table(t)
    {
        for (size_t i = 0; i < start.size(); ++i) {
            uint32_t cf = uint32_t(i) << shift;
            uint8_t s = 0;
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
    explicit RangeDecoder(FrameReader& in) : in_(in) {}

    void start()
    {
        buffer_ = in_.next();
        low_ = buffer_ >> 1;
        range_ = 1u << 7;
    }
    void normalise()
    {
        while (range_ <= rangeBottom) {
            buffer_ = (buffer_ << 8) | in_.next();
            low_ = (low_ << 8) | ((buffer_ >> 1) & 0xFF);
            range_ <<= 8;
        }
    }
    uint32_t decodeFrequency(uint32_t total)
    {
        normalise();
        help_ = range_ / total;
        return low_ / help_;
    }
    uint32_t decodeShift(unsigned shift)
    {
        normalise();
        help_ = range_ >> shift;
        return low_ / help_;
    }
    void update(uint32_t width, uint32_t start)
    {
        low_ -= help_ * start;
        range_ = help_ * width;
    }
    // `count` <= 23. Corrupt data can decode a value beyond `count` bits:
    // that fails the frame, and the value is cut to size so callers stay in range.
    uint32_t bits(unsigned count)
    {
        uint32_t v = decodeShift(count);
        update(1, v);
        if (v >> count) {
            failed_ = true;
            v &= (1u << count) - 1;
        }
        return v;
    }
    // One overflow symbol 0..63 against a frequency table.
    uint32_t symbol(const SymbolIndex& index)
    {
        const SymbolTable& table = index.table;
        uint32_t cf = decodeShift(16);
        if (cf > lastTableCum) {
            if (cf > 0xFFFF) {
                failed_ = true;
                cf = 0xFFFF;
            }
            update(1, cf);
            return cf - wideSymbolBase;
        }
        int s = index.start[cf >> SymbolIndex::shift];
        while (table.cum[s + 1] <= cf)
            ++s;
        update(table.width(s), table.cum[s]);
        return uint32_t(s);
    }
    void fail() { failed_ = true; }
    bool failed() const { return failed_ || in_.overrun(); }
    void clearFailure() { failed_ = false; }
    FrameReader& reader() { return in_; }

private:
    FrameReader& in_;
    uint32_t low_ = 0;
    uint32_t range_ = 0;
    uint32_t buffer_ = 0;
    uint32_t help_ = 1;
    bool failed_ = false;
};

} // namespace ape
