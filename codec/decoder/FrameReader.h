// The logical byte stream of one frame: the frame's 32-bit little-endian
// words read most significant byte first, fetched from the source in blocks.
// Reading past the frame yields zero bytes; the first `allowance` of them are
// legitimate (old versions read 2 bytes beyond their last word), any further
// one sets the sticky overrun flag, which the caller checks once per chunk.
#pragma once

#include "decoder/ApeContainer.h"
#include "format/ByteSource.h"

#include <cstdint>
#include <vector>

namespace ape {

class FrameReader {
public:
    explicit FrameReader(ByteSource& source);

    // Positions at the frame's first logical byte (its whole-byte skip
    // applied; the caller handles the remaining skipBits % 8).
    void begin(const FrameSpan& span, std::uint32_t allowance);

    std::uint8_t next()
    {
        if (cursor < end)
            return *cursor++;
        return refill();
    }
    // The byte that straddles the previous one and next()'s: the previous
    // byte's lowest bit above the next byte's top seven, ((previous << 8) |
    // next) >> 1 cut to 8 bits; the range decoder reads the stream one bit
    // late. Past the frame's end both are the zeros next() supplies, apart
    // from the first. Kept beside the block, ready made, as refill() fetches it.
    std::uint8_t nextStraddling()
    {
        if (cursor < end)
            return (cursor++)[straddledOffset];
        return refillStraddling();
    }
    // Makes the byte last returned by next() the next one again.
    void stepBack()
    {
        --cursor;
        pastEnd = false;
    }
    bool overrun() const { return overran; }
    // Logical bytes left in the frame, not counting the allowance.
    std::uint64_t remaining() const { return std::uint64_t(end - cursor) + (fileEnd - filePos); }

private:
    std::uint8_t refill();
    std::uint8_t refillStraddling();

    static constexpr std::size_t blockBytes = 64 * 1024; // a multiple of 4
    static constexpr std::size_t history = 4; // bytes kept before the block, for stepBack() and the straddling bytes
    // The straddling bytes lie this far after the bytes they end with, in the
    // same buffer.
    static constexpr std::size_t straddledOffset = history + blockBytes;
    ByteSource& source;
    std::vector<std::uint8_t> buffer; // history, the block, then the block's straddling bytes
    const std::uint8_t* cursor = nullptr;
    const std::uint8_t* end = nullptr;
    std::uint64_t filePos = 0; // next word to fetch
    std::uint64_t fileEnd = 0;
    std::uint32_t allowanceLeft = 0;
    bool overran = false;
    bool pastEnd = false; // the last byte handed out was one of the zeros past the end
};

} // namespace ape
