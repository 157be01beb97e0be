// One NN decoding step with SSE2 vectors, inlined into whichever loop
// includes it: the kernel file's own decoding loops and the decoder's loops
// that filter each value as soon as the range decoder yields it (so the two
// chains of work overlap). Only for translation units compiled with SSE2.
#pragma once

#include "dsp/NNRun.h"

#include <cstdint>
#include <emmintrin.h>

namespace ape::nn {

inline std::int32_t horizontalSumSse2(__m128i v)
{
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(v);
}

// Orders are multiples of 16: two vectors of 8 taps per iteration.
template <int Direction>
inline std::int32_t dotAndAdaptLoopSse2(std::int16_t* coef, const std::int16_t* hist, const std::int16_t* adapt,
                                        int order)
{
    __m128i sum0 = _mm_setzero_si128(), sum1 = _mm_setzero_si128();
    // Unrolled fully, a 256-tap loop keeps more partial sums than the eight
    // vector registers of the 32-bit build hold and spills them to the stack.
#pragma GCC unroll 2
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
    return horizontalSumSse2(_mm_add_epi32(sum0, sum1));
}

inline std::int32_t dotAndAdaptSse2(std::int16_t* coef, const std::int16_t* hist, const std::int16_t* adapt, int order,
                                    int direction)
{
    if (direction > 0)
        return dotAndAdaptLoopSse2<1>(coef, hist, adapt, order);
    if (direction < 0)
        return dotAndAdaptLoopSse2<-1>(coef, hist, adapt, order);
    return dotAndAdaptLoopSse2<0>(coef, hist, adapt, order);
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
    return horizontalSumSse2(_mm_add_epi32(sum0, sum1));
}

// Residual in, value out, the filter's state advanced by one step.
template <int Order, bool New>
inline std::int32_t decodeStepSse2(NNRunState& s, std::int32_t residual)
{
    const int order = Order ? Order : s.order;
    const std::int32_t dot = stepSse2<Order>(s.coef, s.hist + s.pos, s.adapt + s.pos, order, negatedSign(residual));
    const std::int32_t value = output(dot, s.fraction, residual);
    push<New>(s, order, value);
    return value;
}

} // namespace ape::nn
