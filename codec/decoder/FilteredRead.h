// Reading a chunk's residuals with each slot's first NN filter applied as
// each value arrives, in one loop: the range decoder's chain of divisions
// and the filter's dot products overlap instead of running in two passes.
// A level's longer filters then run as passes with the widest kernels.
#pragma once

#include "decoder/ValueDecoder.h"
#include "dsp/NNKernels.h"

#include <cstddef>
#include <cstdint>

namespace ape {

// `count` values per slot from `streams` into slot0 (and slot1 when not
// null), each through the slot's filter in `first` (one per slot).
template <class Values>
using FilteredRead = void (*)(RangeDecoder& rc, StreamState* streams, NNRunState* first, std::int32_t* slot0,
                              std::int32_t* slot1, std::size_t count);

// The loop for a first filter of `order` taps with the new adaptation rule
// and 1 or 2 slots; null where none is built in (other orders, no SSE2).
FilteredRead<PivotValues> sse2FilteredRead(int order, int slots);

} // namespace ape
