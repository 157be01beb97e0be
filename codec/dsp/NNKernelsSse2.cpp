// SSE2 is part of every x86-64 processor and assumed on i686 (the Windows
// build compiles with -msse2), so no run-time check is needed.
#include "dsp/NNKernels.h"

#if defined(__SSE2__)
#include "dsp/NNStepSse2.h"
#endif

namespace ape {

#if defined(__SSE2__)
namespace {

std::int32_t dotSse2(const std::int16_t* coef, const std::int16_t* hist, int order)
{
    __m128i sum0 = _mm_setzero_si128(), sum1 = _mm_setzero_si128();
    for (int j = 0; j < order; j += 16) {
        __m128i c0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coef + j));
        __m128i c1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coef + j + 8));
        __m128i h0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hist + j));
        __m128i h1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hist + j + 8));
        sum0 = _mm_add_epi32(sum0, _mm_madd_epi16(c0, h0));
        sum1 = _mm_add_epi32(sum1, _mm_madd_epi16(c1, h1));
    }
    return nn::horizontalSumSse2(_mm_add_epi32(sum0, sum1));
}

void adaptSse2(std::int16_t* coef, const std::int16_t* adapt, int order, int direction)
{
    if (direction == 0)
        return;
    for (int j = 0; j < order; j += 16) {
        auto* c = reinterpret_cast<__m128i*>(coef + j);
        __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(adapt + j));
        __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(adapt + j + 8));
        __m128i c0 = _mm_loadu_si128(c), c1 = _mm_loadu_si128(c + 1);
        if (direction > 0) {
            c0 = _mm_add_epi16(c0, a0);
            c1 = _mm_add_epi16(c1, a1);
        } else {
            c0 = _mm_sub_epi16(c0, a0);
            c1 = _mm_sub_epi16(c1, a1);
        }
        _mm_storeu_si128(c, c0);
        _mm_storeu_si128(c + 1, c1);
    }
}

std::int32_t dotAndAdaptSse2(std::int16_t* coef, const std::int16_t* hist, const std::int16_t* adapt, int order,
                             int direction)
{
    return nn::dotAndAdaptSse2(coef, hist, adapt, order, direction);
}

template <int Order, bool New>
struct Sse2Run {
    static void run(NNRunState& s, std::int32_t* values, std::size_t count)
    {
        for (std::size_t i = 0; i < count; ++i)
            values[i] = nn::decodeStepSse2<Order, New>(s, values[i]);
    }
};

NNDecodeRun sse2Run(int order, bool newAdaptation)
{
    return nn::chooseRun<Sse2Run>(order, newAdaptation);
}

constexpr NNKernels sse2{dotSse2, adaptSse2, dotAndAdaptSse2, sse2Run, "sse2"};

} // namespace

const NNKernels* sse2NNKernels()
{
    return &sse2;
}
#else
const NNKernels* sse2NNKernels()
{
    return nullptr;
}
#endif

} // namespace ape
