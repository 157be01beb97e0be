// Vector variants of Predictor3950's 32-bit stereo and mono runs, behind
// function pointers that Predictor3950 picks once.
#pragma once

#include "decoder/Predictor3950.h"
#include "decoder/ValueDecoder.h"
#include "dsp/NNKernels.h"

#include <cstddef>
#include <cstdint>

namespace ape {

// The runs below are SSE2 code, built twice: as SSE2 instructions, and in
// AVX2's encoding, which needs fewer register copies. A getter returns the
// one asked for (null for AVX2 where the processor lacks it), or by
// default the best the processor runs.
enum class VectorCode { sse2, avx2, best };

// Slot values in, Y and X out, for `count` blocks of 32-bit wrapping arithmetic.
using Stereo32Run = void (*)(Predictor3950::Channel<std::int32_t>& y, Predictor3950::Channel<std::int32_t>& x,
                             const std::int32_t* slot0, const std::int32_t* slot1, std::int32_t* outY,
                             std::int32_t* outX, std::size_t count);

// Null where SSE2 is not compiled in.
Stereo32Run vectorStereo32Run(VectorCode code = VectorCode::best);

// The same run, watching its values: true only where no intermediate value
// left the signed 32-bit range, so that exact 64-bit arithmetic would have
// given the same output and state. The watch is cautious: a run that came
// close to the limit may be refused although it fit. Null without SSE2.
using CheckedStereo32Run = bool (*)(Predictor3950::Channel<std::int32_t>& y, Predictor3950::Channel<std::int32_t>& x,
                                    const std::int32_t* slot0, const std::int32_t* slot1, std::int32_t* outY,
                                    std::int32_t* outX, std::size_t count);
CheckedStereo32Run vectorCheckedStereo32Run(VectorCode code = VectorCode::best);

// The same run fed block by block from the range decoder (`Values` reads
// one value of a stream), each value through its slot's first NN filter in
// `first` (one per slot) for levels with NN filters.
template <class Values>
using DecodingStereo32Run = void (*)(RangeDecoder& rc, StreamState* streams, NNRunState* first,
                                     Predictor3950::Channel<std::int32_t>& y, Predictor3950::Channel<std::int32_t>& x,
                                     std::int32_t* outY, std::int32_t* outX, std::size_t count);

// The checked run (as CheckedStereo32Run) fed from the range decoder like
// DecodingStereo32Run, keeping the slot values in `slot0` and `slot1` for a
// chunk that has to be computed again.
template <class Values>
using CheckedDecodingStereo32Run = bool (*)(RangeDecoder& rc, StreamState* streams, NNRunState* first,
                                            Predictor3950::Channel<std::int32_t>& y,
                                            Predictor3950::Channel<std::int32_t>& x, std::int32_t* slot0,
                                            std::int32_t* slot1, std::int32_t* outY, std::int32_t* outX,
                                            std::size_t count);

template <class Values>
CheckedDecodingStereo32Run<Values> vectorCheckedDecodingStereo32Run(int order, VectorCode code = VectorCode::best);

// The run for a first filter of `order` taps (0: no NN filter; 16, 32 or 64
// with the new adaptation, for PivotValues only). Null where none is built
// in (no SSE2, other orders). Made for PivotValues and KValues<true>.
template <class Values>
DecodingStereo32Run<Values> vectorDecodingStereo32Run(int order, VectorCode code = VectorCode::best);

// A level's whole chunk in one loop: values from the range decoder
// (PivotValues, one stream per slot) through each slot's NN filters into
// the stereo run, the last filter's outputs kept in `slot0` and `slot1`.
// The filters (one per slot each, new adaptation) are `first`, `second`
// (level 5000's 256 taps; null at level 4000) and `last`. Watched (as
// CheckedStereo32Run, which it then answers) or not (it answers true).
// Level 5000's 1280 taps run in AVX-512 where the processor has AVX-512BW
// and VNNI and `code` is best (avx2 asks for AVX2 alone). Null where the
// processor lacks AVX2,
// for sse2, or for filters other than level 4000's (first 32, last 256 taps)
// and level 5000's (first 16, last 1280).
using DecodingFilteringStereo32Run = bool (*)(RangeDecoder& rc, StreamState* streams, NNRunState* first,
                                              NNRunState* second, NNRunState* last,
                                              Predictor3950::Channel<std::int32_t>& y,
                                              Predictor3950::Channel<std::int32_t>& x, std::int32_t* slot0,
                                              std::int32_t* slot1, std::int32_t* outY, std::int32_t* outX,
                                              std::size_t count);
DecodingFilteringStereo32Run decodingFilteringStereo32Run(int firstOrder, int lastOrder, bool watched,
                                                          VectorCode code = VectorCode::best);

// The same for mono: one stream (`streams[0]`), one filter of each.
using DecodingFilteringMono32Run = void (*)(RangeDecoder& rc, StreamState* streams, NNRunState* first,
                                            NNRunState* second, NNRunState* last,
                                            Predictor3950::Channel<std::int32_t>& c, std::int32_t* out,
                                            std::size_t count);
DecodingFilteringMono32Run decodingFilteringMono32Run(int firstOrder, int lastOrder,
                                                      VectorCode code = VectorCode::best);

// Predictor3950's mono run fed from the range decoder, one stream, through
// the first NN filter `first` for orders 16, 32 and 64 (as
// vectorDecodingStereo32Run). Null without SSE2 or for other orders.
template <class Values>
using DecodingMono32Run = void (*)(RangeDecoder& rc, StreamState& stream, NNRunState* first,
                                   Predictor3950::Channel<std::int32_t>& c, std::int32_t* out, std::size_t count);
template <class Values>
DecodingMono32Run<Values> vectorDecodingMono32Run(int order, VectorCode code = VectorCode::best);

} // namespace ape
