// The stereo run that first passes each block's slot values through the
// slots' last NN filter: the filter's long dot products (throughput) and the
// predictor's chain of dependent steps (latency) overlap instead of running
// in two passes. AVX2, or for 1280 taps AVX-512 where the processor has it,
// chosen at run time.
#include "decoder/Predictor3950Sse2.h"

#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
#include "decoder/StereoStepSse2.h"
#include "dsp/NNStepAvx2.h"
#include "dsp/NNStepAvx512.h"

#include <type_traits>
#define APE_HAVE_AVX2_RUNS 1
#endif

namespace ape {

#if defined(APE_HAVE_AVX2_RUNS)
namespace {

using sse2::Channel32;

// The loop once for each filter step, compiled for the step's target: a
// function for one target does not inline another target's code.
#define APE_FILTERING_RUNS(Code, Target, decodeStep)                                                                   \
    struct Code {                                                                                                      \
        template <int Order, class Watch>                                                                              \
        Target static bool run(NNRunState* last, Channel32& y, Channel32& x, std::int32_t* slot0, std::int32_t* slot1, \
                               std::int32_t* outY, std::int32_t* outX, std::size_t count)                              \
        {                                                                                                              \
            sse2::VectorChannel vy(y), vx(x);                                                                          \
            Watch watch;                                                                                               \
            vy.watchStart(watch);                                                                                      \
            vx.watchStart(watch);                                                                                      \
            for (std::size_t i = 0; i < count; ++i) {                                                                  \
                const std::int32_t value0 = nn::decodeStep<Order, true>(last[0], slot0[i]);                            \
                const std::int32_t value1 = nn::decodeStep<Order, true>(last[1], slot1[i]);                            \
                slot0[i] = value0;                                                                                     \
                slot1[i] = value1;                                                                                     \
                const std::int32_t valueY = vy.step(value0, vx.filterA, watch);                                        \
                outX[i] = vx.step(value1, valueY, watch);                                                              \
                outY[i] = valueY;                                                                                      \
            }                                                                                                          \
            vy.store(y);                                                                                               \
            vx.store(x);                                                                                               \
            return watch.held();                                                                                       \
        }                                                                                                              \
        template <int Order>                                                                                           \
        Target static void plain(NNRunState* last, Channel32& y, Channel32& x, std::int32_t* slot0,                    \
                                 std::int32_t* slot1, std::int32_t* outY, std::int32_t* outX, std::size_t count)       \
        {                                                                                                              \
            run<Order, sse2::NoWatch>(last, y, x, slot0, slot1, outY, outX, count);                                    \
        }                                                                                                              \
        template <int Order>                                                                                           \
        Target static bool checked(NNRunState* last, Channel32& y, Channel32& x, std::int32_t* slot0,                  \
                                   std::int32_t* slot1, std::int32_t* outY, std::int32_t* outX, std::size_t count)     \
        {                                                                                                              \
            return run<Order, sse2::RangeWatch>(last, y, x, slot0, slot1, outY, outX, count);                          \
        }                                                                                                              \
    };

APE_FILTERING_RUNS(Avx2Code, APE_AVX2, decodeStepAvx2)
APE_FILTERING_RUNS(Avx512Code, APE_AVX512, decodeStepAvx512)
#undef APE_FILTERING_RUNS

// AVX-512 for the 1280 taps only: at 256 its longer reduction and the
// mirrored window cost more than its wider vectors save.
template <class Run>
Run pick(int order, Run avx2At256, Run avx2At1280, Run avx512At1280)
{
    if (!processorHasAvx2() || (order != 256 && order != 1280))
        return nullptr;
    if (order == 256)
        return avx2At256;
    return processorHasAvx512() ? avx512At1280 : avx2At1280;
}

} // namespace

FilteringStereo32Run filteringStereo32Run(int order)
{
    return pick<FilteringStereo32Run>(order, Avx2Code::plain<256>, Avx2Code::plain<1280>, Avx512Code::plain<1280>);
}

CheckedFilteringStereo32Run checkedFilteringStereo32Run(int order)
{
    return pick<CheckedFilteringStereo32Run>(order, Avx2Code::checked<256>, Avx2Code::checked<1280>,
                                             Avx512Code::checked<1280>);
}
#else
FilteringStereo32Run filteringStereo32Run(int)
{
    return nullptr;
}

CheckedFilteringStereo32Run checkedFilteringStereo32Run(int)
{
    return nullptr;
}
#endif

} // namespace ape
