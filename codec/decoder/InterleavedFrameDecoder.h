// Frames of versions 3930 and later: range-coded residuals interleaved per
// block, NN filters per channel slot, then the stage-1 predictor. All state
// carries over from chunk to chunk within a frame.
#pragma once

#include "FrameDecoder.h"
#include "FilteredRead.h"
#include "FrameReader.h"
#include "Predictor3930.h"
#include "Predictor3950.h"
#include "RangeDecoder.h"
#include "StereoWidthRule.h"
#include "ValueDecoder.h"
#include "dsp/NNFilter.h"

#include <vector>

namespace ape {

class InterleavedFrameDecoder : public FrameDecoder {
public:
    InterleavedFrameDecoder(const ApeContainer& container, ByteSource& source);
    void start(const FrameSpan& span) override;
    void decode(int32_t* left, int32_t* right, size_t count) override;

private:
    template <class Values> void readMono(size_t count);
    template <class Values> void readStereo(size_t count);
    template <class Values> bool decodeStereo32(int32_t* y, int32_t* x, NNRunState* filters, size_t count);
    // Reads a chunk into the slots (1 or 2); returns how many of each slot's
    // NN filters the reading loop has applied already.
    size_t readSlots(int slots, size_t count);
    template <class Values> void decodeMono(int32_t* out, size_t count);
    void checkData();

    int version_;
    int channels_;
    FrameReader reader_;
    RangeDecoder rc_;
    StreamState streams_[2];
    std::vector<NNFilter> filters_[2]; // per slot, in decoding order
    Predictor3950 predictor3950_;
    Predictor3930 predictor3930_;
    StereoWidthRule widthRule_;
    uint32_t flags_ = 0;
    std::vector<int32_t> slot0_, slot1_;
    void (InterleavedFrameDecoder::*readMono_)(size_t);
    void (InterleavedFrameDecoder::*readStereo_)(size_t);
    bool (InterleavedFrameDecoder::*decodeStereo32_)(int32_t*, int32_t*, NNRunState*, size_t);
    FilteredRead<PivotValues> filteredRead_[2] = {}; // by slots - 1; null where there is none
    void (InterleavedFrameDecoder::*decodeMono_)(int32_t*, size_t);
};

} // namespace ape
