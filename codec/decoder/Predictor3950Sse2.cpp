// The 32-bit stereo and mono runs of Predictor3950 over the vector step.
// SSE2 is part of every x86-64 processor and assumed on i686 (the Windows
// build compiles with -msse2).
#include "decoder/Predictor3950Sse2.h"

#include "dsp/PredictorArithmetic.h"

#if defined(__SSE2__)
#include "decoder/FilteredValueSse2.h"
#include "decoder/StereoStepSse2.h"

#include <type_traits>
#endif

namespace ape {

#if defined(__SSE2__)
namespace {

using sse2::Channel32;
using sse2::NoWatch;
using sse2::RangeWatch;
using sse2::VectorChannel;

// One loop for the plain and the watched runs: NoWatch compiles away.
template <class Watch>
bool stereoRun(Channel32& y, Channel32& x, const std::int32_t* slot0, const std::int32_t* slot1, std::int32_t* outY,
               std::int32_t* outX, std::size_t count)
{
    VectorChannel vy(y), vx(x);
    Watch watch;
    vy.watchStart(watch);
    vx.watchStart(watch);
    for (std::size_t i = 0; i < count; ++i) {
        const std::int32_t valueY = vy.step(slot0[i], vx.filterA, watch);
        outX[i] = vx.step(slot1[i], valueY, watch);
        outY[i] = valueY;
    }
    vy.store(y);
    vx.store(x);
    return watch.held();
}

void stereoRunSse2(Channel32& y, Channel32& x, const std::int32_t* slot0, const std::int32_t* slot1, std::int32_t* outY,
                   std::int32_t* outX, std::size_t count)
{
    stereoRun<NoWatch>(y, x, slot0, slot1, outY, outX, count);
}

bool checkedStereoRunSse2(Channel32& y, Channel32& x, const std::int32_t* slot0, const std::int32_t* slot1,
                          std::int32_t* outY, std::int32_t* outX, std::size_t count)
{
    return stereoRun<RangeWatch>(y, x, slot0, slot1, outY, outX, count);
}

// Decoding the values in the same loop lets the processor overlap the range
// decoder's chain of divisions with the filters' and the predictor's chains.
// A watched run keeps the values it read, for the 64-bit trial should the
// watch fail.
template <class Values, int Order, class Watch>
bool decodingStereoRun(RangeDecoder& rc, StreamState* streams, NNRunState* first, Channel32& y, Channel32& x,
                       std::int32_t* slot0, std::int32_t* slot1, std::int32_t* outY, std::int32_t* outX,
                       std::size_t count)
{
    using Source = FilteredValue<Values, Order>;
    constexpr bool keepsValues = !std::is_same_v<Watch, NoWatch>;
    VectorChannel vy(y), vx(x);
    Watch watch;
    vy.watchStart(watch);
    vx.watchStart(watch);
    RangeDecoder local = rc;
    StreamState s0 = streams[0], s1 = streams[1];
    for (std::size_t i = 0; i < count; ++i) {
        const std::int32_t value0 = Source::next(local, s0, first);
        const std::int32_t value1 = Source::next(local, s1, Order ? first + 1 : nullptr);
        if constexpr (keepsValues) {
            slot0[i] = value0;
            slot1[i] = value1;
        }
        const std::int32_t valueY = vy.step(value0, vx.filterA, watch);
        outX[i] = vx.step(value1, valueY, watch);
        outY[i] = valueY;
    }
    rc = local;
    streams[0] = s0;
    streams[1] = s1;
    vy.store(y);
    vx.store(x);
    return watch.held();
}

template <class Values, int Order>
void decodingStereoRunSse2(RangeDecoder& rc, StreamState* streams, NNRunState* first, Channel32& y, Channel32& x,
                           std::int32_t* outY, std::int32_t* outX, std::size_t count)
{
    decodingStereoRun<Values, Order, NoWatch>(rc, streams, first, y, x, nullptr, nullptr, outY, outX, count);
}

template <class Values, int Order>
bool checkedDecodingStereoRunSse2(RangeDecoder& rc, StreamState* streams, NNRunState* first, Channel32& y, Channel32& x,
                                  std::int32_t* slot0, std::int32_t* slot1, std::int32_t* outY, std::int32_t* outX,
                                  std::size_t count)
{
    return decodingStereoRun<Values, Order, RangeWatch>(rc, streams, first, y, x, slot0, slot1, outY, outX, count);
}

// The mono step fed from the range decoder: the predictor's registers in
// vectors leave the 32-bit build's few general registers to the decoder.
template <class Values>
void decodingMonoRunSse2(RangeDecoder& rc, StreamState& stream, Channel32& c, std::int32_t* out, std::size_t count)
{
    VectorChannel v(c);
    RangeDecoder local = rc;
    StreamState s = stream;
    for (std::size_t i = 0; i < count; ++i)
        out[i] = v.monoStep(Values::decodeInline(local, s));
    rc = local;
    stream = s;
    v.store(c);
}

// Which of a run's instantiations serves a first filter of `order` taps.
template <class Values, template <class, int> class Run>
std::decay_t<decltype(Run<Values, 0>::run)> runForOrder(int order)
{
    if (order == 0)
        return Run<Values, 0>::run;
    // The filters of versions with pivot-coded values adapt by the new rule.
    if constexpr (std::is_same_v<Values, PivotValues>) {
        switch (order) {
        case 16:
            return Run<Values, 16>::run;
        case 32:
            return Run<Values, 32>::run;
        case 64:
            return Run<Values, 64>::run;
        default:
            break;
        }
    }
    return nullptr;
}

template <class Values, int Order>
struct DecodingRun {
    static constexpr auto run = decodingStereoRunSse2<Values, Order>;
};

template <class Values, int Order>
struct CheckedDecodingRun {
    static constexpr auto run = checkedDecodingStereoRunSse2<Values, Order>;
};

} // namespace

Stereo32Run sse2Stereo32Run()
{
    return stereoRunSse2;
}

CheckedStereo32Run sse2CheckedStereo32Run()
{
    return checkedStereoRunSse2;
}

template <class Values>
DecodingStereo32Run<Values> sse2DecodingStereo32Run(int order)
{
    return runForOrder<Values, DecodingRun>(order);
}

template <class Values>
CheckedDecodingStereo32Run<Values> sse2CheckedDecodingStereo32Run(int order)
{
    return runForOrder<Values, CheckedDecodingRun>(order);
}

template <class Values>
DecodingMono32Run<Values> sse2DecodingMono32Run()
{
    return decodingMonoRunSse2<Values>;
}
#else
Stereo32Run sse2Stereo32Run()
{
    return nullptr;
}

CheckedStereo32Run sse2CheckedStereo32Run()
{
    return nullptr;
}

template <class Values>
DecodingStereo32Run<Values> sse2DecodingStereo32Run(int)
{
    return nullptr;
}

template <class Values>
CheckedDecodingStereo32Run<Values> sse2CheckedDecodingStereo32Run(int)
{
    return nullptr;
}

template <class Values>
DecodingMono32Run<Values> sse2DecodingMono32Run()
{
    return nullptr;
}
#endif

template DecodingStereo32Run<PivotValues> sse2DecodingStereo32Run<PivotValues>(int);
template DecodingStereo32Run<KValues<true>> sse2DecodingStereo32Run<KValues<true>>(int);
template CheckedDecodingStereo32Run<PivotValues> sse2CheckedDecodingStereo32Run<PivotValues>(int);
template CheckedDecodingStereo32Run<KValues<true>> sse2CheckedDecodingStereo32Run<KValues<true>>(int);
template DecodingMono32Run<PivotValues> sse2DecodingMono32Run<PivotValues>();
template DecodingMono32Run<KValues<true>> sse2DecodingMono32Run<KValues<true>>();

} // namespace ape
