// A slot's next value straight from the range decoder, through the slot's
// first NN filter (Order 16, 32 or 64, new adaptation) or none (Order 0):
// the source of the decoder's single-pass loops. Inlined into them, so the
// processor overlaps the range decoder's chain of divisions with the
// filter's and the predictor's work. Only for code compiled with SSE2.
#pragma once

#include "decoder/ValueDecoder.h"
#include "dsp/NNStepSse2.h"

#include <cstdint>

namespace ape {

template <class Values, int Order, PivotScan Scan = PivotScan::stepped>
struct FilteredValue {
    static_assert(Order == 0 || Order == 16 || Order == 32 || Order == 64);

    [[gnu::always_inline]] static std::int32_t next(RangeDecoder& rc, StreamState& stream, NNRunState* filter)
    {
        if constexpr (Order == 0)
            return Values::template decodeInline<Scan>(rc, stream);
        else
            return nn::decodeStepSse2<Order, true>(*filter, Values::template decode<Scan>(rc, stream));
    }
};

} // namespace ape
