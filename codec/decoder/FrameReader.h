// The logical byte stream of one frame: the frame's 32-bit little-endian
// words read most significant byte first, fetched from the source in blocks.
// Reading past the frame yields zero bytes; the first `allowance` of them are
// legitimate (old versions read 2 bytes beyond their last word), any further
// one sets the sticky overrun flag, which the caller checks once per chunk.
#pragma once

#include "ApeContainer.h"
#include "format/ByteSource.h"

#include <cstdint>
#include <vector>

namespace ape {

class FrameReader {
public:
    explicit FrameReader(ByteSource& source);

    // Positions at the frame's first logical byte (its whole-byte skip
    // applied; the caller handles the remaining skipBits % 8).
    void begin(const FrameSpan& span, uint32_t allowance);

    uint8_t next()
    {
        if (cursor_ < end_)
            return *cursor_++;
        return refill();
    }
    // Makes the byte last returned by next() the next one again.
    void stepBack() { --cursor_; }
    bool overrun() const { return overrun_; }
    // Logical bytes left in the frame, not counting the allowance.
    uint64_t remaining() const { return uint64_t(end_ - cursor_) + (fileEnd_ - filePos_); }

private:
    uint8_t refill();

    static constexpr size_t blockBytes = 64 * 1024; // a multiple of 4
    static constexpr size_t history = 4;            // bytes kept before the block for stepBack()
    ByteSource& source_;
    std::vector<uint8_t> buffer_;
    const uint8_t* cursor_ = nullptr;
    const uint8_t* end_ = nullptr;
    uint64_t filePos_ = 0;  // next word to fetch
    uint64_t fileEnd_ = 0;
    uint32_t allowance_ = 0;
    bool overrun_ = false;
};

} // namespace ape
