#include "decoder/FilteredRead.h"

#if defined(__SSE2__)
#include "decoder/FilteredValueSse2.h"
#endif

namespace ape {

#if defined(__SSE2__)
namespace {

template <class Values, int Order, int Slots>
void filteredRead(RangeDecoder& rc, StreamState* streams, NNRunState* first, std::int32_t* slot0, std::int32_t* slot1,
                  std::size_t count)
{
    using Source = FilteredValue<Values, Order>;
    for (std::size_t i = 0; i < count; ++i) {
        slot0[i] = Source::next(rc, streams[0], &first[0]);
        if constexpr (Slots == 2)
            slot1[i] = Source::next(rc, streams[1], &first[1]);
    }
}

template <int Order>
FilteredRead<PivotValues> pick(int slots)
{
    return slots == 2 ? filteredRead<PivotValues, Order, 2> : filteredRead<PivotValues, Order, 1>;
}

} // namespace

FilteredRead<PivotValues> sse2FilteredRead(int order, int slots)
{
    switch (order) {
    case 16:
        return pick<16>(slots);
    case 32:
        return pick<32>(slots);
    case 64:
        return pick<64>(slots);
    default:
        return nullptr;
    }
}
#else
FilteredRead<PivotValues> sse2FilteredRead(int, int)
{
    return nullptr;
}
#endif

} // namespace ape
