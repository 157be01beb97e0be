// SSE2 is part of every x86-64 processor and assumed on i686 (the Windows
// build compiles with -msse2), so no run-time check is needed.
#include "NNKernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ape {

#if defined(__SSE2__)
namespace {

// Orders are multiples of 16: two vectors of 8 taps per iteration.
int32_t horizontalSum(__m128i v)
{
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(v);
}

int32_t dotSse2(const int16_t* coef, const int16_t* hist, int order)
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

void adaptSse2(int16_t* coef, const int16_t* adapt, int order, int direction)
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
int32_t dotAndAdaptLoop(int16_t* coef, const int16_t* hist, const int16_t* adapt, int order)
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

int32_t dotAndAdaptSse2(int16_t* coef, const int16_t* hist, const int16_t* adapt, int order, int direction)
{
    if (direction > 0)
        return dotAndAdaptLoop<1>(coef, hist, adapt, order);
    if (direction < 0)
        return dotAndAdaptLoop<-1>(coef, hist, adapt, order);
    return dotAndAdaptLoop<0>(coef, hist, adapt, order);
}

constexpr NNKernels sse2{dotSse2, adaptSse2, dotAndAdaptSse2, "sse2"};

} // namespace

const NNKernels* sse2NNKernels() { return &sse2; }
#else
const NNKernels* sse2NNKernels() { return nullptr; }
#endif

} // namespace ape
