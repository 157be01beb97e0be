// One NN decoding step with AVX-512 vectors for the longest filter (1280
// taps; any multiple of 128 up to it compiles), inlined into whichever loop
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
    static_assert(Order % 128 == 0 && Order <= 1280, "four vectors of 32 taps an iteration");
    // Four sums: each multiply-accumulate waits for the last one into its
    // sum, and with two the chains, not the loads, would bound the step.
    __m512i sum[4] = {_mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512()};
    for (int j = 0; j < Order; j += 128) {
        auto* c = reinterpret_cast<__m512i*>(coef + j);
        for (int k = 0; k < 4; ++k) {
            __m512i ck = _mm512_loadu_si512(c + k);
            // Kept in a register: GCC would otherwise load it again as the
            // add's operand, and loads are what bounds this loop.
            asm("" : "+v"(ck));
            sum[k] = _mm512_dpwssd_epi32(sum[k], ck, _mm512_loadu_si512(hist + j + 32 * k));
            _mm512_storeu_si512(c + k, _mm512_add_epi16(ck, _mm512_loadu_si512(step + j + 32 * k)));
        }
    }
    // Zero-masked extracts: with the unmasked ones (and so the library's
    // reduction) GCC 12 warns of an uninitialised vector.
    const __m512i total = _mm512_add_epi32(_mm512_add_epi32(sum[0], sum[1]), _mm512_add_epi32(sum[2], sum[3]));
    return horizontalSumAvx2(_mm256_add_epi32(_mm512_maskz_extracti64x4_epi64(0xF, total, 0),
                                              _mm512_maskz_extracti64x4_epi64(0xF, total, 1)));
}

// Residual in, value out, the filter's state advanced by one step.
template <int Order, bool New>
APE_AVX512 inline std::int32_t decodeStepAvx512(NNRunState& s, std::int32_t residual)
{
    // Picked with masks: GCC branches on the conditional form, and the sign
    // of a residual is a coin toss to the branch predictor.
    const auto address = [](const std::int16_t* p) { return reinterpret_cast<std::uintptr_t>(p); };
    const std::uintptr_t negative = 0 - std::uintptr_t(residual < 0), positive = 0 - std::uintptr_t(residual > 0);
    const auto* step = reinterpret_cast<const std::int16_t*>((address(s.adapt + s.pos) & negative) |
                                                             (address(s.negatedAdapt + s.pos) & positive) |
                                                             (address(noAdaptation) & ~(negative | positive)));
    const std::int32_t dot = stepAvx512<Order>(s.coef, s.hist + s.pos, step);
    const std::int32_t value = output(dot, s.fraction, residual);
    push<New, true>(s, Order, value);
    return value;
}

} // namespace ape::nn
