// Turns one frame's bytes into samples, a chunk of blocks at a time.
//
// A subclass supplies start() (read the frame's CRC and flags and reset all
// state) and decode() (the next `count` blocks, in order, never more than the
// frame holds). Both throw CodecError(APE_ERROR_DECOMPRESSING_FRAME) when the
// data is corrupt. create() picks the subclass for a file's version once.
#pragma once

#include "decoder/ApeContainer.h"
#include "format/ByteSource.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace ape {

class FrameDecoder {
public:
    // Blocks per decode() call at most; chunks are counted from the frame start.
    static constexpr std::size_t chunkBlocks = 4608;

    static std::unique_ptr<FrameDecoder> create(const ApeContainer& container, ByteSource& source);
    virtual ~FrameDecoder() = default;

    virtual void start(const FrameSpan& span) = 0;
    // Channel 0 into `left`, channel 1 into `right` (untouched for mono).
    virtual void decode(std::int32_t* left, std::int32_t* right, std::size_t count) = 0;
    // The 31-bit CRC the frame carries (valid after start()).
    std::uint32_t storedCrc() const { return storedCrcValue; }

protected:
    std::uint32_t storedCrcValue = 0;
};

} // namespace ape
