// The watch of the 32-bit stereo step (see RangeWatch in StereoStepSse2.h)
// for the runs compiled for AVX2: it takes the products as exact 64-bit
// values with the signed multiply of SSE4.1 and adds them exactly, so one
// set of multiplies gives both the sums the step wraps (their low halves)
// and the proof, where RangeWatch adds single-precision copies beside the
// step's own products and bounds their rounding. Its sums() is an ordinary
// inline function: the step that calls it is plain code, into which an
// AVX2 function cannot be forced; once the step is inlined into an AVX2
// run, the compiler inlines sums() there.
//
// The sums shifted right must lie in the signed 32-bit range: pB, and
// pA + pB / 2 (rounded down), which does exactly when 2 pA + pB lies in
// [-2^32, 2^32). Both are kept doubled in two 64-bit lanes, whose
// magnitudes are or-ed together. They cannot overflow: registers hold
// 32-bit values, and coefficients move by one a step from under 2^26 at a
// run's start, so over a chunk they stay under 2^27 and every product
// under 2^58.
#pragma once

#include "decoder/StereoStepSse2.h"
#include "dsp/NNStepAvx2.h"

#include <cstdint>
#include <immintrin.h>

namespace ape::avx2 {

class ExactSumWatch : public sse2::RegisterWatch {
public:
    // At the run's start (SSE2 alone, so that the start's plain code can
    // take it in).
    void coefficients(__m128i cA, __m128i cB, std::int32_t cB4)
    {
        const __m128i bits =
            _mm_or_si128(_mm_xor_si128(cA, _mm_srai_epi32(cA, 31)), _mm_xor_si128(cB, _mm_srai_epi32(cB, 31)));
        smallCoefficients &=
            _mm_movemask_epi8(_mm_cmpgt_epi32(bits, _mm_set1_epi32((1 << 26) - 1))) == 0 && magnitude(cB4) < (1u << 26);
    }

    APE_AVX2 sse2::StepSums sums(const sse2::VectorChannel& c)
    {
        const __m128i a = pairSums(c.rA, c.cA), b = pairSums(c.rB, c.cB);
        const __m128i fifth = _mm_mul_epi32(_mm_cvtsi32_si128(c.rB4), _mm_cvtsi32_si128(c.cB4));
        // [pA, pB]
        const __m128i p =
            _mm_add_epi64(_mm_add_epi64(_mm_unpacklo_epi64(a, b), _mm_unpackhi_epi64(a, b)), _mm_slli_si128(fifth, 8));
        // [2 pA + pB, 2 pB]
        const __m128i doubled = _mm_add_epi64(_mm_add_epi64(p, p), _mm_srli_si128(p, 8));
        beyond = _mm_or_si128(beyond, _mm_xor_si128(doubled, _mm_cmpgt_epi64(_mm_setzero_si128(), doubled)));
        return {_mm_cvtsi128_si32(p), _mm_extract_epi32(p, 2)};
    }

    APE_AVX2 bool held() const
    {
        return RegisterWatch::held() && smallCoefficients &&
               _mm_testz_si128(beyond, _mm_set_epi32(-1, 0, -1, 0)); // every magnitude under 2^32
    }

private:
    // [r0 c0 + r1 c1, r2 c2 + r3 c3], exact.
    APE_AVX2 static __m128i pairSums(__m128i r, __m128i c)
    {
        return _mm_add_epi64(_mm_mul_epi32(r, c), _mm_mul_epi32(_mm_srli_epi64(r, 32), _mm_srli_epi64(c, 32)));
    }

    bool smallCoefficients = true;
    __m128i beyond = _mm_setzero_si128();
};

} // namespace ape::avx2
