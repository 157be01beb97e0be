// Frames of versions 3930 and later: range-coded residuals interleaved per
// block, NN filters per channel slot, then the stage-1 predictor. All state
// carries over from chunk to chunk within a frame.
#pragma once

#include "decoder/FilteredRead.h"
#include "decoder/FrameDecoder.h"
#include "decoder/FrameReader.h"
#include "decoder/Predictor3930.h"
#include "decoder/Predictor3950.h"
#include "decoder/RangeDecoder.h"
#include "decoder/StereoWidthRule.h"
#include "decoder/ValueDecoder.h"
#include "dsp/NNFilter.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ape {

class InterleavedFrameDecoder : public FrameDecoder {
public:
    InterleavedFrameDecoder(const ApeContainer& container, ByteSource& source);
    void start(const FrameSpan& span) override;
    void decode(std::int32_t* left, std::int32_t* right, std::size_t count) override;

private:
    template <class Values>
    void readMono(std::size_t count);
    template <class Values>
    void readStereo(std::size_t count);
    template <class Values>
    bool decodeStereo32(std::int32_t* y, std::int32_t* x, NNRunState* filters, std::size_t count);
    template <class Values>
    bool decodeStereoChecked(std::int32_t* y, std::int32_t* x, NNRunState* filters, std::size_t count, bool& fits);
    // Reads a chunk into the slots (1 or 2); returns how many of each slot's
    // NN filters the reading loop has applied already.
    std::size_t readSlots(int slots, std::size_t count);
    template <class Values>
    bool decodeMono(std::int32_t* out, std::size_t count);
    // Levels 4000 and 5000 (filtersWithPredictor): a chunk read from the
    // range decoder through every NN filter into the predictor in one loop,
    // while the width is 32 bits or undecided; and the same for mono.
    void runFiltersAndPredictor(std::int32_t* left, std::int32_t* right, std::size_t count);
    void runFiltersAndMonoPredictor(std::int32_t* out, std::size_t count);
    void checkData();

    int version;
    int channels;
    FrameReader reader;
    RangeDecoder rc;
    StreamState streams[2];
    std::vector<NNFilter> filters[2]; // per slot, in decoding order
    Predictor3950 predictor3950;
    Predictor3930 predictor3930;
    StereoWidthRule widthRule;
    std::uint32_t flags = 0;
    std::vector<std::int32_t> slot0, slot1;
    void (InterleavedFrameDecoder::*monoReader)(std::size_t);
    void (InterleavedFrameDecoder::*stereoReader)(std::size_t);
    bool (InterleavedFrameDecoder::*stereo32Decoder)(std::int32_t*, std::int32_t*, NNRunState*, std::size_t);
    bool (InterleavedFrameDecoder::*checkedStereoDecoder)(std::int32_t*, std::int32_t*, NNRunState*, std::size_t,
                                                          bool&);
    FilteredRead<PivotValues> filteredReads[2] = {}; // by slots - 1; null where there is none
    bool filtersWithPredictor = false;               // whether runFiltersAndPredictor is built in
    bool (InterleavedFrameDecoder::*monoDecoder)(std::int32_t*, std::size_t);
};

} // namespace ape
