// Frames of versions 3800..3929: the whole frame is decoded on its first
// chunk (its long filters run over the whole frame) and handed out from
// memory. Residuals come from a bit stream (below 3900) or the range coder
// with one restart between the channels (3900..3929).
#pragma once

#include "decoder/FrameDecoder.h"
#include "decoder/FrameReader.h"
#include "decoder/RangeDecoder.h"
#include "decoder/ValueDecoder.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace ape {

class LegacyFrameDecoder : public FrameDecoder {
public:
    LegacyFrameDecoder(const ApeContainer& container, ByteSource& source);
    void start(const FrameSpan& span) override;
    void decode(std::int32_t* left, std::int32_t* right, std::size_t count) override;

private:
    void decodeWholeFrame();
    void readRangeCoded(std::size_t count, bool stereo);
    void predict(std::size_t count, bool stereo);

    int version;
    int level;
    int channels;
    FrameReader reader;
    RangeDecoder rc;
    FrameSpan frameSpan;
    std::uint32_t flags = 0;
    std::size_t frameBlocks = 0;
    std::size_t handedOut = 0;
    // The whole frame, then its samples. Left uninitialised: a frame writes
    // every value it reads, so a cut file's frame costs only what it holds.
    std::size_t capacity;
    std::unique_ptr<std::int32_t[]> slot0, slot1;
};

} // namespace ape
