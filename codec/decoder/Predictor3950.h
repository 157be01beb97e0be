// Stage-1 prediction of versions 3950 and later: per predictor channel an
// adaptive order-4 filter on its own history ("A") and, in stereo, an order-5
// filter on the other channel ("B"). Y takes slot 0, X slot 1; Y is stepped
// first and its output feeds X's B part.
//
// The stereo step exists in two arithmetic widths (PredictorWidth); both are
// instantiated and StereoWidthRule decides which one a chunk uses. The state
// is kept in 64 bits; a 32-bit chunk works on a 32-bit copy (values in 32-bit
// width are always wrapped, so the copy loses nothing) and stores it back.
// State is a plain value so a chunk can be replayed from a copy.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dsp/PredictorArithmetic.h"

namespace ape {

class RangeDecoder;
struct StreamState;
struct NNRunState;

enum class PredictorWidth { wrap32, exact64 };

class Predictor3950 {
public:
    void reset();
    // Whole chunk: slot values in, Y and X out.
    template <PredictorWidth W>
    void stereo(const std::int32_t* slot0, const std::int32_t* slot1, std::int32_t* y, std::int32_t* x,
                std::size_t count);
    // The 32-bit chunk, watching its intermediate values: output and state
    // are the 32-bit width's, and when it returns true (it found that no
    // value left the signed 32-bit range) also those of the 64-bit width,
    // given a state that fitsIn32Bits() at the start. False may also mean
    // only that a value came close to the limit. `exactWatch` takes the
    // scalar run, which notes every wrap and nothing else (the run of
    // machines without SSE2).
    bool stereoInBothWidths(const std::int32_t* slot0, const std::int32_t* slot1, std::int32_t* y, std::int32_t* x,
                            std::size_t count, bool exactWatch = false);
    // Whether every register holds a value of the signed 32-bit range.
    bool fitsIn32Bits() const;
    // The 32-bit chunk with its slot values read straight from the range
    // decoder (`Values`: PivotValues or KValues<true>, one stream per slot),
    // each through its slot's only NN filter in `filters` (one per slot; null
    // for frames without NN filters). False, with nothing read, where no such
    // loop is built in: the caller then reads and runs in passes.
    template <class Values>
    bool decodeStereo32(RangeDecoder& rc, StreamState* streams, NNRunState* filters, std::int32_t* y, std::int32_t* x,
                        std::size_t count);
    // stereoInBothWidths with the slot values read as decodeStereo32 reads
    // them and kept in `slot0` and `slot1`; `fits` gets its answer. False,
    // with nothing read, where no such loop is built in.
    template <class Values>
    bool decodeStereoInBothWidths(RangeDecoder& rc, StreamState* streams, NNRunState* filters, std::int32_t* slot0,
                                  std::int32_t* slot1, std::int32_t* y, std::int32_t* x, std::size_t count, bool& fits);
    // The 32-bit chunk with its values read straight from the range decoder
    // (PivotValues) and run through each slot's NN filters, `first`, `second`
    // (null at level 4000) and `last` (one per slot each), block by block; the
    // last filter's outputs are left in `slot0` and `slot1`. With `fits`, as
    // stereoInBothWidths, which it answers. Only where
    // decodingFilteringStereo32Run serves.
    void decodeFilterStereo32(RangeDecoder& rc, StreamState* streams, NNRunState* first, NNRunState* second,
                              NNRunState* last, std::int32_t* slot0, std::int32_t* slot1, std::int32_t* y,
                              std::int32_t* x, std::size_t count, bool* fits = nullptr);
    // Its mono form (decodingFilteringMono32Run), one stream and one filter of each.
    void decodeFilterMono32(RangeDecoder& rc, StreamState& stream, NNRunState* first, NNRunState* second,
                            NNRunState* last, std::int32_t* out, std::size_t count);
    // Mono files and pseudo-stereo frames; always 32-bit.
    void mono(std::int32_t* values, std::size_t count);
    // The same with the values read straight from the range decoder, in one
    // loop, through the frame's only NN filter `first` where it has one.
    // False, having done nothing, where no such loop serves the filter.
    template <class Values>
    bool decodeMono(RangeDecoder& rc, StreamState& stream, NNRunState* first, std::int32_t* out, std::size_t count);

    // T is the storage of the sums and registers: std::int32_t (wrapping) or std::int64_t.
    template <class T>
    struct Channel {
        T lastA = 0, filterA = 0, filterB = 0;
        std::int32_t cA[4] = {predictorStartA[0], predictorStartA[1], predictorStartA[2], predictorStartA[3]};
        std::int32_t cB[5] = {0, 0, 0, 0, 0};
        T rA[4] = {0, 0, 0, 0};
        T rB[5] = {0, 0, 0, 0, 0};
    };

private:
    Channel<std::int64_t> yChannel, xChannel;
};

} // namespace ape
