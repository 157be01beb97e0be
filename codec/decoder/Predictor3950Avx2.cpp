// Levels 4000 and 5000 in one loop a chunk: each value read from the range
// decoder goes through its slot's NN filters into the predictor, so that
// the decoder's chain of divisions (latency), the long filters' loads
// (throughput) and the predictor's chain of dependent steps overlap. AVX2,
// or for 1280 taps AVX-512 where the processor has it, chosen at run time.
#include "decoder/Predictor3950Sse2.h"

#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
#include "decoder/ExactSumWatch.h"
#include "decoder/FilteredValueSse2.h"
#include "decoder/StereoStepSse2.h"
#include "dsp/NNStepAvx2.h"
#include "dsp/NNStepAvx512.h"
#define APE_HAVE_AVX2_RUNS 1
#endif

namespace ape {

#if defined(APE_HAVE_AVX2_RUNS)
namespace {

using sse2::Channel32;

// Values straight from the range decoder through a slot's filters before
// the last: the first (FirstOrder taps) and, where there is one between,
// the 256-tap filter (SecondOrder). Both codes that use them run only where
// the processor has lzcnt too (the AVX2 test asks for it).
template <int FirstOrder, int SecondOrder>
struct DecodedValues {
    RangeDecoder& rc;
    StreamState* streams;
    NNRunState* first;  // one per slot
    NNRunState* second; // one per slot where SecondOrder is not 0
    [[gnu::always_inline]] APE_AVX2 std::int32_t operator()(int s) const
    {
        // At 32 taps the AVX2 step does in two vectors what the SSE2 step
        // does in four; at 16 its one vector's wider sum is slower than the
        // SSE2 step's two.
        std::int32_t value;
        if constexpr (FirstOrder == 32)
            value = nn::decodeStepAvx2<32, true>(first[s], PivotValues::decode<PivotScan::lzcnt>(rc, streams[s]));
        else
            value = FilteredValue<PivotValues, FirstOrder, PivotScan::lzcnt>::next(rc, streams[s], &first[s]);
        if constexpr (SecondOrder == 0)
            return value;
        else
            return nn::decodeStepAvx2<SecondOrder, true>(second[s], value);
    }
};

// The loop once for each last-filter step, compiled for the step's target:
// a function for one target does not inline another target's code. Both
// inputs are taken first: reading them is one chain, which the long steps
// after it then overlap instead of splitting it. With Narrows, a filter of
// nn::narrowFrom taps or more steps over its adaptation window in bytes.
#define APE_FILTERING_RUN(Code, Target, decodeStep, Narrows)                                                           \
    struct Code {                                                                                                      \
        template <int Order>                                                                                           \
        static constexpr bool narrow = (Narrows) && Order >= nn::narrowFrom;                                           \
        template <int Order, class Watch, class Source>                                                                \
        Target static bool run(Source source, NNRunState* last, Channel32& y, Channel32& x, std::int32_t* slot0,       \
                               std::int32_t* slot1, std::int32_t* outY, std::int32_t* outX, std::size_t count)         \
        {                                                                                                              \
            sse2::VectorChannel vy(y), vx(x);                                                                          \
            Watch watch;                                                                                               \
            vy.watchStart(watch);                                                                                      \
            vx.watchStart(watch);                                                                                      \
            if constexpr (narrow<Order>) {                                                                             \
                nn::narrowAdaptation(last[0], Order);                                                                  \
                nn::narrowAdaptation(last[1], Order);                                                                  \
            }                                                                                                          \
            for (std::size_t i = 0; i < count; ++i) {                                                                  \
                const std::int32_t input0 = source(0), input1 = source(1);                                             \
                const std::int32_t value0 = nn::decodeStep<Order, true>(last[0], input0);                              \
                const std::int32_t value1 = nn::decodeStep<Order, true>(last[1], input1);                              \
                slot0[i] = value0;                                                                                     \
                slot1[i] = value1;                                                                                     \
                const std::int32_t valueY = vy.step(value0, vx.filterA, watch);                                        \
                outX[i] = vx.step(value1, valueY, watch);                                                              \
                outY[i] = valueY;                                                                                      \
            }                                                                                                          \
            if constexpr (narrow<Order>) {                                                                             \
                nn::widenAdaptation(last[0], Order);                                                                   \
                nn::widenAdaptation(last[1], Order);                                                                   \
            }                                                                                                          \
            vy.store(y);                                                                                               \
            vx.store(x);                                                                                               \
            return watch.held();                                                                                       \
        }                                                                                                              \
        template <int Order, class Source>                                                                             \
        Target static void monoRun(Source source, NNRunState* last, Channel32& c, std::int32_t* out,                   \
                                   std::size_t count)                                                                  \
        {                                                                                                              \
            sse2::VectorChannel v(c);                                                                                  \
            if constexpr (narrow<Order>)                                                                               \
                nn::narrowAdaptation(last[0], Order);                                                                  \
            for (std::size_t i = 0; i < count; ++i)                                                                    \
                out[i] = v.monoStep(nn::decodeStep<Order, true>(last[0], source(0)));                                  \
            if constexpr (narrow<Order>)                                                                               \
                nn::widenAdaptation(last[0], Order);                                                                   \
            v.store(c);                                                                                                \
        }                                                                                                              \
    };

// AVX-512's step reads the words and their negation (see NNStepAvx512.h).
APE_FILTERING_RUN(Avx2Code, APE_AVX2, decodeStepAvx2, true)
APE_FILTERING_RUN(Avx512Code, APE_AVX512, decodeStepAvx512, false)
#undef APE_FILTERING_RUN

template <class Code, int FirstOrder, int SecondOrder, int LastOrder, class Watch>
bool decoding(RangeDecoder& rc, StreamState* streams, NNRunState* first, NNRunState* second, NNRunState* last,
              Channel32& y, Channel32& x, std::int32_t* slot0, std::int32_t* slot1, std::int32_t* outY,
              std::int32_t* outX, std::size_t count)
{
    return Code::template run<LastOrder, Watch>(DecodedValues<FirstOrder, SecondOrder>{rc, streams, first, second},
                                                last, y, x, slot0, slot1, outY, outX, count);
}

template <class Code, int FirstOrder, int SecondOrder, int LastOrder>
void decodingMono(RangeDecoder& rc, StreamState* streams, NNRunState* first, NNRunState* second, NNRunState* last,
                  Channel32& c, std::int32_t* out, std::size_t count)
{
    Code::template monoRun<LastOrder>(DecodedValues<FirstOrder, SecondOrder>{rc, streams, first, second}, last, c, out,
                                      count);
}

// AVX-512 for the 1280 taps only: at 256 its longer reduction and the
// mirrored window cost more than its wider vectors save. VectorCode::avx2
// asks for AVX2 alone.
bool avx512For1280(VectorCode code)
{
    return code == VectorCode::best && processorHasAvx512();
}

} // namespace

// Level 4000's filters (32 and 256 taps) and level 5000's (16, 256, 1280).
DecodingFilteringStereo32Run decodingFilteringStereo32Run(int firstOrder, int lastOrder, bool watched, VectorCode code)
{
    if (code == VectorCode::sse2 || !processorHasAvx2())
        return nullptr;
    if (firstOrder == 32 && lastOrder == 256)
        return watched ? decoding<Avx2Code, 32, 0, 256, avx2::ExactSumWatch>
                       : decoding<Avx2Code, 32, 0, 256, sse2::NoWatch>;
    if (firstOrder != 16 || lastOrder != 1280)
        return nullptr;
    if (avx512For1280(code))
        return watched ? decoding<Avx512Code, 16, 256, 1280, avx2::ExactSumWatch>
                       : decoding<Avx512Code, 16, 256, 1280, sse2::NoWatch>;
    return watched ? decoding<Avx2Code, 16, 256, 1280, avx2::ExactSumWatch>
                   : decoding<Avx2Code, 16, 256, 1280, sse2::NoWatch>;
}

DecodingFilteringMono32Run decodingFilteringMono32Run(int firstOrder, int lastOrder, VectorCode code)
{
    if (code == VectorCode::sse2 || !processorHasAvx2())
        return nullptr;
    if (firstOrder == 32 && lastOrder == 256)
        return decodingMono<Avx2Code, 32, 0, 256>;
    if (firstOrder != 16 || lastOrder != 1280)
        return nullptr;
    return avx512For1280(code) ? decodingMono<Avx512Code, 16, 256, 1280> : decodingMono<Avx2Code, 16, 256, 1280>;
}
#else
DecodingFilteringStereo32Run decodingFilteringStereo32Run(int, int, bool, VectorCode)
{
    return nullptr;
}

DecodingFilteringMono32Run decodingFilteringMono32Run(int, int, VectorCode)
{
    return nullptr;
}
#endif

} // namespace ape
