// One NN decoding step with AVX-512 vectors for the longest filter (1280
// taps; any multiple of 64 up to it compiles), inlined into whichever loop
// includes it. Every function carries its target itself, as in NNStepAvx2.h:
// its includers call into it only once the processor reported AVX-512BW and
// VNNI.
//
// At 32 taps a vector the step issues half the loads and stores of the AVX2
// step, which bound a long filter there. What is left is kept to three
// operations a vector: the multiply-accumulate of VNNI, and a coefficient
// step that adds the adaptation window the residual's sign picks (the window,
// its negation or zeros), where a product with the sign would cost a fourth.
#pragma once

#include "dsp/NNRun.h"
#include "dsp/NNStepAvx2.h"

#include <cstdint>
#include <immintrin.h>

#define APE_AVX512 __attribute__((target("avx512f,avx512bw,avx512vnni,avx2")))

namespace ape::nn {

// The window a zero residual adapts by.
alignas(64) inline constexpr std::int16_t noAdaptation[1280]{};

template <int Order>
APE_AVX512 inline std::int32_t stepAvx512(std::int16_t* coef, const std::int16_t* hist, const std::int16_t* step)
{
    static_assert(Order % 64 == 0 && Order <= 1280, "two vectors of 32 taps an iteration");
    __m512i sum0 = _mm512_setzero_si512(), sum1 = _mm512_setzero_si512();
    for (int j = 0; j < Order; j += 64) {
        auto* c = reinterpret_cast<__m512i*>(coef + j);
        __m512i c0 = _mm512_loadu_si512(c), c1 = _mm512_loadu_si512(c + 1);
        // Kept in registers: GCC would otherwise load each again as the add's
        // operand, and loads are what bounds this loop.
        asm("" : "+v"(c0), "+v"(c1));
        sum0 = _mm512_dpwssd_epi32(sum0, c0, _mm512_loadu_si512(hist + j));
        sum1 = _mm512_dpwssd_epi32(sum1, c1, _mm512_loadu_si512(hist + j + 32));
        _mm512_storeu_si512(c, _mm512_add_epi16(c0, _mm512_loadu_si512(step + j)));
        _mm512_storeu_si512(c + 1, _mm512_add_epi16(c1, _mm512_loadu_si512(step + j + 32)));
    }
    // Zero-masked extracts: with the unmasked ones (and so the library's
    // reduction) GCC 12 warns of an uninitialised vector.
    const __m512i sum = _mm512_add_epi32(sum0, sum1);
    return horizontalSumAvx2(
        _mm256_add_epi32(_mm512_maskz_extracti64x4_epi64(0xF, sum, 0), _mm512_maskz_extracti64x4_epi64(0xF, sum, 1)));
}

// Residual in, value out, the filter's state advanced by one step.
template <int Order, bool New>
APE_AVX512 inline std::int32_t decodeStepAvx512(NNRunState& s, std::int32_t residual)
{
    const std::int16_t* step = residual < 0 ? s.adapt + s.pos : residual > 0 ? s.negatedAdapt + s.pos : noAdaptation;
    const std::int32_t dot = stepAvx512<Order>(s.coef, s.hist + s.pos, step);
    const std::int32_t value = output(dot, s.fraction, residual);
    push<New, true>(s, Order, value);
    return value;
}

} // namespace ape::nn
