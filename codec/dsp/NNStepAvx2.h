// One NN decoding step with AVX2 vectors, inlined into whichever loop
// includes it: the kernel file's own decoding loops and the decoder's loop
// that runs a slot's last filter and the predictor block by block. Every
// function carries the AVX2 target itself, so its includers stay at the SSE2
// baseline and call into it only once the processor reported AVX2.
#pragma once

#include "dsp/NNRun.h"

#include <cstdint>
#include <immintrin.h>

#define APE_AVX2 __attribute__((target("avx2")))

namespace ape::nn {

APE_AVX2 inline std::int32_t horizontalSumAvx2(__m256i v)
{
    __m128i s = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, _MM_SHUFFLE(1, 0, 3, 2)));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(s);
}

template <int Direction>
APE_AVX2 inline std::int32_t dotAndAdaptLoopAvx2(std::int16_t* coef, const std::int16_t* hist,
                                                 const std::int16_t* adapt, int order)
{
    __m256i sum = _mm256_setzero_si256();
    // Unrolled fully, a 256-tap loop keeps more partial sums than the eight
    // vector registers of the 32-bit build hold and spills them to the stack.
#pragma GCC unroll 2
    for (int j = 0; j < order; j += 16) {
        auto* c = reinterpret_cast<__m256i*>(coef + j);
        __m256i v = _mm256_loadu_si256(c);
        __m256i h = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(hist + j));
        sum = _mm256_add_epi32(sum, _mm256_madd_epi16(v, h));
        if constexpr (Direction != 0) {
            __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(adapt + j));
            v = Direction > 0 ? _mm256_add_epi16(v, a) : _mm256_sub_epi16(v, a);
            _mm256_storeu_si256(c, v);
        }
    }
    return horizontalSumAvx2(sum);
}

APE_AVX2 inline std::int32_t dotAndAdaptAvx2(std::int16_t* coef, const std::int16_t* hist, const std::int16_t* adapt,
                                             int order, int direction)
{
    if (direction > 0)
        return dotAndAdaptLoopAvx2<1>(coef, hist, adapt, order);
    if (direction < 0)
        return dotAndAdaptLoopAvx2<-1>(coef, hist, adapt, order);
    return dotAndAdaptLoopAvx2<0>(coef, hist, adapt, order);
}

// Sixteen adaptation values as words, from the filter's window or from a
// run's copy of it in bytes.
APE_AVX2 inline __m256i adaptationAvx2(const std::int16_t* adapt)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(adapt));
}

APE_AVX2 inline __m256i adaptationAvx2(const std::int8_t* adapt)
{
    return _mm256_cvtepi8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(adapt)));
}

// One decoding step's dot product and adaptation; the sign instruction
// applies the residual's sign without a branch, which the sign of a residual
// (a coin toss to the branch predictor) would mispredict often, at every
// order; only the loop for orders without their own keeps the branch.
//
// At 1280 taps the step is bound by its loads: three a vector, two of them
// (the history and adaptation windows, which move one entry a step) crossing
// a cache line every other time; so there it reads the adaptation values as
// bytes (see narrowAdaptation()), half a vector that crosses a line a
// quarter of the time. Tried on a Zen 3 and left out, as no
// faster there: two steps in one pass over the coefficients (five loads for
// two steps' six, but the second step's last vector waits for the first
// step's output: a few per cent faster in x64, slower in the 32-bit library,
// 12-20 % slower at 256 taps); coefficients kept rotated with the window, so
// that every load is aligned (the cross-lane shift that rotates them cost
// more than the crossings it saved); more running sums (the chain of adds
// is not what bounds the step).
template <int Order, class Adaptation>
APE_AVX2 inline std::int32_t stepAvx2(std::int16_t* coef, const std::int16_t* hist, const Adaptation* adapt, int order,
                                      int direction)
{
    if constexpr (Order == 0)
        return dotAndAdaptAvx2(coef, hist, adapt, order, direction);
    const __m256i d = _mm256_set1_epi16(std::int16_t(direction));
    __m256i sum = _mm256_setzero_si256();
    // Fully unrolled at 256 taps and more, the 32-bit build spills partial sums.
#pragma GCC unroll 4
    for (int j = 0; j < Order; j += 16) {
        auto* c = reinterpret_cast<__m256i*>(coef + j);
        __m256i v = _mm256_loadu_si256(c);
        __m256i h = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(hist + j));
        sum = _mm256_add_epi32(sum, _mm256_madd_epi16(v, h));
        _mm256_storeu_si256(c, _mm256_add_epi16(v, _mm256_sign_epi16(adaptationAvx2(adapt + j), d)));
    }
    return horizontalSumAvx2(sum);
}

// From narrowFrom taps on, a run keeps the filter's adaptation window in
// bytes (s.narrowAdapt) and its steps read that: a run calls
// narrowAdaptation() before its first step and widenAdaptation() after its
// last. (Kept beside the words step by step, or on the run's stack, the
// bytes saved nothing.)
inline void narrowAdaptation(NNRunState& s, int order)
{
    for (int i = s.pos; i < s.pos + order; ++i)
        s.narrowAdapt[i] = std::int8_t(s.adapt[i]);
}

inline void widenAdaptation(NNRunState& s, int order)
{
    for (int i = s.pos; i < s.pos + order; ++i)
        s.adapt[i] = s.narrowAdapt[i];
}

// Residual in, value out, the filter's state advanced by one step.
template <int Order, bool New>
APE_AVX2 inline std::int32_t decodeStepAvx2(NNRunState& s, std::int32_t residual)
{
    const int order = Order ? Order : s.order;
    auto* const adaptation = [&] {
        if constexpr (Order >= narrowFrom)
            return s.narrowAdapt;
        else
            return s.adapt;
    }();
    const std::int32_t dot = stepAvx2<Order>(s.coef, s.hist + s.pos, adaptation + s.pos, order, negatedSign(residual));
    const std::int32_t value = output(dot, s.fraction, residual);
    push<New>(s, order, value, adaptation);
    return value;
}

} // namespace ape::nn
