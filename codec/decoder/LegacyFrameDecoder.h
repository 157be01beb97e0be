// Frames of versions 3800..3929: the whole frame is decoded on its first
// chunk (its long filters run over the whole frame) and handed out from
// memory. Residuals come from a bit stream (below 3900) or the range coder
// with one restart between the channels (3900..3929).
#pragma once

#include "FrameDecoder.h"
#include "FrameReader.h"
#include "RangeDecoder.h"
#include "ValueDecoder.h"

#include <vector>

namespace ape {

class LegacyFrameDecoder : public FrameDecoder {
public:
    LegacyFrameDecoder(const ApeContainer& container, ByteSource& source);
    void start(const FrameSpan& span) override;
    void decode(int32_t* left, int32_t* right, size_t count) override;

private:
    void decodeWholeFrame();
    void readRangeCoded(size_t count, bool stereo);
    void predict(size_t count, bool stereo);

    int version_;
    int level_;
    int channels_;
    FrameReader reader_;
    RangeDecoder rc_;
    FrameSpan span_;
    uint32_t flags_ = 0;
    size_t frameBlocks_ = 0;
    size_t handedOut_ = 0;
    std::vector<int32_t> slot0_, slot1_; // the whole frame, then its samples
};

} // namespace ape
