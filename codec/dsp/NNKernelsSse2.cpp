// SSE2 is part of every x86-64 processor and assumed on i686 (the Windows
// build compiles with -msse2), so no run-time check is needed.
#include "dsp/NNKernels.h"

#include "dsp/NNRun.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ape {

#if defined(__SSE2__)
namespace {

// Orders are multiples of 16: two vectors of 8 taps per iteration.
std::int32_t horizontalSum(__m128i v)
{
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(v);
}

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
    return horizontalSum(_mm_add_epi32(sum0, sum1));
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

template <int Direction>
std::int32_t dotAndAdaptLoop(std::int16_t* coef, const std::int16_t* hist, const std::int16_t* adapt, int order)
{
    __m128i sum0 = _mm_setzero_si128(), sum1 = _mm_setzero_si128();
    for (int j = 0; j < order; j += 16) {
        auto* c = reinterpret_cast<__m128i*>(coef + j);
        __m128i c0 = _mm_loadu_si128(c), c1 = _mm_loadu_si128(c + 1);
        __m128i h0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hist + j));
        __m128i h1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hist + j + 8));
        sum0 = _mm_add_epi32(sum0, _mm_madd_epi16(c0, h0));
        sum1 = _mm_add_epi32(sum1, _mm_madd_epi16(c1, h1));
        if constexpr (Direction != 0) {
            __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(adapt + j));
            __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(adapt + j + 8));
            if constexpr (Direction > 0) {
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
    return horizontalSum(_mm_add_epi32(sum0, sum1));
}

std::int32_t dotAndAdaptSse2(std::int16_t* coef, const std::int16_t* hist, const std::int16_t* adapt, int order,
                             int direction)
{
    if (direction > 0)
        return dotAndAdaptLoop<1>(coef, hist, adapt, order);
    if (direction < 0)
        return dotAndAdaptLoop<-1>(coef, hist, adapt, order);
    return dotAndAdaptLoop<0>(coef, hist, adapt, order);
}

// One decoding step's dot product and adaptation. Short filters adapt
// without a branch (the sign of a residual is a coin toss to the branch
// predictor); long ones skip the work for a zero residual.
template <int Order>
inline std::int32_t stepSse2(std::int16_t* coef, const std::int16_t* hist, const std::int16_t* adapt, int order,
                             int direction)
{
    if constexpr (Order == 0 || Order > 64)
        return dotAndAdaptSse2(coef, hist, adapt, order, direction);
    const __m128i d = _mm_set1_epi16(std::int16_t(direction));
    __m128i sum0 = _mm_setzero_si128(), sum1 = _mm_setzero_si128();
    for (int j = 0; j < Order; j += 16) {
        auto* c = reinterpret_cast<__m128i*>(coef + j);
        __m128i c0 = _mm_loadu_si128(c), c1 = _mm_loadu_si128(c + 1);
        __m128i h0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hist + j));
        __m128i h1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hist + j + 8));
        sum0 = _mm_add_epi32(sum0, _mm_madd_epi16(c0, h0));
        sum1 = _mm_add_epi32(sum1, _mm_madd_epi16(c1, h1));
        __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(adapt + j));
        __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(adapt + j + 8));
        _mm_storeu_si128(c, _mm_add_epi16(c0, _mm_mullo_epi16(a0, d)));
        _mm_storeu_si128(c + 1, _mm_add_epi16(c1, _mm_mullo_epi16(a1, d)));
    }
    return horizontalSum(_mm_add_epi32(sum0, sum1));
}

template <int Order, bool New>
struct Sse2Run {
    static void run(NNRunState& s, std::int32_t* values, std::size_t count)
    {
        const int order = Order ? Order : s.order;
        for (std::size_t i = 0; i < count; ++i) {
            const std::int32_t residual = values[i];
            const std::int32_t dot =
                stepSse2<Order>(s.coef, s.hist + s.pos, s.adapt + s.pos, order, nn::negatedSign(residual));
            values[i] = nn::output(dot, s.fraction, residual);
            nn::push<New>(s, order, values[i]);
        }
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
