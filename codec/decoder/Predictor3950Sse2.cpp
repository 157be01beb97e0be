// The 32-bit stereo and mono runs of Predictor3950 over the vector step.
// SSE2 is part of every x86-64 processor and assumed on i686 (the Windows
// build compiles with -msse2).
#include "decoder/Predictor3950Sse2.h"

#include "dsp/PredictorArithmetic.h"

#if defined(__SSE2__)
#include "decoder/ExactSumWatch.h"
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

// The runs' bodies are inlined into two sets of entry points: one as
// compiled for SSE2, one in AVX2's encoding where the processor has it. Its
// three-operand forms spare the register copies that the 32-bit build,
// short of registers, otherwise spends in these loops. What the bodies call
// per value is always_inline: the compiler does not inline ordinary inline
// functions into code for another target, and calls would cost more than
// the encoding gains.

// One loop for the plain and the watched runs: NoWatch compiles away.
template <class Watch>
[[gnu::always_inline]] inline bool stereoRun(Channel32& y, Channel32& x, const std::int32_t* slot0,
                                             const std::int32_t* slot1, std::int32_t* outY, std::int32_t* outX,
                                             std::size_t count)
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

// Decoding the values in the same loop lets the processor overlap the range
// decoder's chain of divisions with the filters' and the predictor's chains.
// A watched run keeps the values it read, for the 64-bit trial should the
// watch fail.
template <class Values, int Order, PivotScan Scan, class Watch>
[[gnu::always_inline]] inline bool
decodingStereoRun(RangeDecoder& rc, StreamState* streams, NNRunState* first, Channel32& y, Channel32& x,
                  std::int32_t* slot0, std::int32_t* slot1, std::int32_t* outY, std::int32_t* outX, std::size_t count)
{
    using Source = FilteredValue<Values, Order, Scan>;
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

// The mono step fed from the range decoder (through the only NN filter at
// levels with one): the predictor's registers in vectors leave the 32-bit
// build's few general registers to the decoder.
template <class Values, int Order, PivotScan Scan>
[[gnu::always_inline]] inline void decodingMonoRun(RangeDecoder& rc, StreamState& stream, NNRunState* first,
                                                   Channel32& c, std::int32_t* out, std::size_t count)
{
    using Source = FilteredValue<Values, Order, Scan>;
    VectorChannel v(c);
    RangeDecoder local = rc;
    StreamState s = stream;
    for (std::size_t i = 0; i < count; ++i)
        out[i] = v.monoStep(Source::next(local, s, first));
    rc = local;
    stream = s;
    v.store(c);
}

#define APE_ENTRY_POINTS(Name, Target, Watch, Scan)                                                                    \
    struct Name {                                                                                                      \
        Target static void stereo(Channel32& y, Channel32& x, const std::int32_t* slot0, const std::int32_t* slot1,    \
                                  std::int32_t* outY, std::int32_t* outX, std::size_t count)                           \
        {                                                                                                              \
            stereoRun<NoWatch>(y, x, slot0, slot1, outY, outX, count);                                                 \
        }                                                                                                              \
        Target static bool checkedStereo(Channel32& y, Channel32& x, const std::int32_t* slot0,                        \
                                         const std::int32_t* slot1, std::int32_t* outY, std::int32_t* outX,            \
                                         std::size_t count)                                                            \
        {                                                                                                              \
            return stereoRun<Watch>(y, x, slot0, slot1, outY, outX, count);                                            \
        }                                                                                                              \
        template <class Values, int Order>                                                                             \
        Target static void decodingStereo(RangeDecoder& rc, StreamState* streams, NNRunState* first, Channel32& y,     \
                                          Channel32& x, std::int32_t* outY, std::int32_t* outX, std::size_t count)     \
        {                                                                                                              \
            decodingStereoRun<Values, Order, Scan, NoWatch>(rc, streams, first, y, x, nullptr, nullptr, outY, outX,    \
                                                            count);                                                    \
        }                                                                                                              \
        template <class Values, int Order>                                                                             \
        Target static bool checkedDecodingStereo(RangeDecoder& rc, StreamState* streams, NNRunState* first,            \
                                                 Channel32& y, Channel32& x, std::int32_t* slot0, std::int32_t* slot1, \
                                                 std::int32_t* outY, std::int32_t* outX, std::size_t count)            \
        {                                                                                                              \
            return decodingStereoRun<Values, Order, Scan, Watch>(rc, streams, first, y, x, slot0, slot1, outY, outX,   \
                                                                 count);                                               \
        }                                                                                                              \
        template <class Values, int Order>                                                                             \
        Target static void decodingMono(RangeDecoder& rc, StreamState& stream, NNRunState* first, Channel32& c,        \
                                        std::int32_t* out, std::size_t count)                                          \
        {                                                                                                              \
            decodingMonoRun<Values, Order, Scan>(rc, stream, first, c, out, count);                                    \
        }                                                                                                              \
    };

// AVX2's entry points watch with exact sums, which take SSE4.1's multiply.
// Every processor with AVX2 has lzcnt, and the test for AVX2 asks for both.
APE_ENTRY_POINTS(Sse2Code, , RangeWatch, PivotScan::stepped)
APE_ENTRY_POINTS(Avx2Code, __attribute__((target("avx2,lzcnt"))), avx2::ExactSumWatch, PivotScan::lzcnt)
#undef APE_ENTRY_POINTS

template <class Run>
Run pick(VectorCode code, Run sse2, Run avx2)
{
    if (code == VectorCode::sse2)
        return sse2;
    return processorHasAvx2() ? avx2 : code == VectorCode::best ? sse2 : nullptr;
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

template <class Code>
struct Decoding {
    template <class Values, int Order>
    struct Run {
        static constexpr auto run = Code::template decodingStereo<Values, Order>;
    };
};

template <class Code>
struct MonoDecoding {
    template <class Values, int Order>
    struct Run {
        static constexpr auto run = Code::template decodingMono<Values, Order>;
    };
};

template <class Code>
struct CheckedDecoding {
    template <class Values, int Order>
    struct Run {
        static constexpr auto run = Code::template checkedDecodingStereo<Values, Order>;
    };
};

} // namespace

Stereo32Run vectorStereo32Run(VectorCode code)
{
    return pick<Stereo32Run>(code, Sse2Code::stereo, Avx2Code::stereo);
}

CheckedStereo32Run vectorCheckedStereo32Run(VectorCode code)
{
    return pick<CheckedStereo32Run>(code, Sse2Code::checkedStereo, Avx2Code::checkedStereo);
}

template <class Values>
DecodingStereo32Run<Values> vectorDecodingStereo32Run(int order, VectorCode code)
{
    return pick(code, runForOrder<Values, Decoding<Sse2Code>::Run>(order),
                runForOrder<Values, Decoding<Avx2Code>::Run>(order));
}

template <class Values>
CheckedDecodingStereo32Run<Values> vectorCheckedDecodingStereo32Run(int order, VectorCode code)
{
    return pick(code, runForOrder<Values, CheckedDecoding<Sse2Code>::Run>(order),
                runForOrder<Values, CheckedDecoding<Avx2Code>::Run>(order));
}

template <class Values>
DecodingMono32Run<Values> vectorDecodingMono32Run(int order, VectorCode code)
{
    return pick(code, runForOrder<Values, MonoDecoding<Sse2Code>::Run>(order),
                runForOrder<Values, MonoDecoding<Avx2Code>::Run>(order));
}
#else
Stereo32Run vectorStereo32Run(VectorCode)
{
    return nullptr;
}

CheckedStereo32Run vectorCheckedStereo32Run(VectorCode)
{
    return nullptr;
}

template <class Values>
DecodingStereo32Run<Values> vectorDecodingStereo32Run(int, VectorCode)
{
    return nullptr;
}

template <class Values>
CheckedDecodingStereo32Run<Values> vectorCheckedDecodingStereo32Run(int, VectorCode)
{
    return nullptr;
}

template <class Values>
DecodingMono32Run<Values> vectorDecodingMono32Run(int, VectorCode)
{
    return nullptr;
}
#endif

template DecodingStereo32Run<PivotValues> vectorDecodingStereo32Run<PivotValues>(int, VectorCode);
template DecodingStereo32Run<KValues<true>> vectorDecodingStereo32Run<KValues<true>>(int, VectorCode);
template CheckedDecodingStereo32Run<PivotValues> vectorCheckedDecodingStereo32Run<PivotValues>(int, VectorCode);
template CheckedDecodingStereo32Run<KValues<true>> vectorCheckedDecodingStereo32Run<KValues<true>>(int, VectorCode);
template DecodingMono32Run<PivotValues> vectorDecodingMono32Run<PivotValues>(int, VectorCode);
template DecodingMono32Run<KValues<true>> vectorDecodingMono32Run<KValues<true>>(int, VectorCode);

} // namespace ape
