// The stereo run that first passes each block's slot values through the
// slots' last NN filter: the filter's long dot products (throughput) and the
// predictor's chain of dependent steps (latency) overlap instead of running
// in two passes. AVX2 only, chosen at run time.
#include "decoder/Predictor3950Sse2.h"

#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
#include "decoder/StereoStepSse2.h"
#include "dsp/NNStepAvx2.h"

#include <type_traits>
#define APE_HAVE_AVX2_RUNS 1
#endif

namespace ape {

#if defined(APE_HAVE_AVX2_RUNS)
namespace {

using sse2::Channel32;

template <int Order, class Watch>
APE_AVX2 bool filteringStereoRun(NNRunState* last, Channel32& y, Channel32& x, std::int32_t* slot0, std::int32_t* slot1,
                                 std::int32_t* outY, std::int32_t* outX, std::size_t count)
{
    sse2::VectorChannel vy(y), vx(x);
    Watch watch;
    vy.watchStart(watch);
    vx.watchStart(watch);
    for (std::size_t i = 0; i < count; ++i) {
        const std::int32_t value0 = nn::decodeStepAvx2<Order, true>(last[0], slot0[i]);
        const std::int32_t value1 = nn::decodeStepAvx2<Order, true>(last[1], slot1[i]);
        slot0[i] = value0;
        slot1[i] = value1;
        const std::int32_t valueY = vy.step(value0, vx.filterA, watch);
        outX[i] = vx.step(value1, valueY, watch);
        outY[i] = valueY;
    }
    vy.store(y);
    vx.store(x);
    return watch.held();
}

template <int Order>
APE_AVX2 void plainRun(NNRunState* last, Channel32& y, Channel32& x, std::int32_t* slot0, std::int32_t* slot1,
                       std::int32_t* outY, std::int32_t* outX, std::size_t count)
{
    filteringStereoRun<Order, sse2::NoWatch>(last, y, x, slot0, slot1, outY, outX, count);
}

template <int Order>
APE_AVX2 bool checkedRun(NNRunState* last, Channel32& y, Channel32& x, std::int32_t* slot0, std::int32_t* slot1,
                         std::int32_t* outY, std::int32_t* outX, std::size_t count)
{
    return filteringStereoRun<Order, sse2::RangeWatch>(last, y, x, slot0, slot1, outY, outX, count);
}

} // namespace

FilteringStereo32Run avx2FilteringStereo32Run(int order)
{
    if (!processorHasAvx2())
        return nullptr;
    return order == 256 ? plainRun<256> : order == 1280 ? plainRun<1280> : nullptr;
}

CheckedFilteringStereo32Run avx2CheckedFilteringStereo32Run(int order)
{
    if (!processorHasAvx2())
        return nullptr;
    return order == 256 ? checkedRun<256> : order == 1280 ? checkedRun<1280> : nullptr;
}
#else
FilteringStereo32Run avx2FilteringStereo32Run(int)
{
    return nullptr;
}

CheckedFilteringStereo32Run avx2CheckedFilteringStereo32Run(int)
{
    return nullptr;
}
#endif

} // namespace ape
