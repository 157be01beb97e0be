// The 32-bit stereo step of Predictor3950 with each channel's registers and
// coefficients in vectors: the four A registers in one, the first four B
// registers in another, the fifth B register beside them in a scalar.
// Shifting the registers, their dot products and the sign-sign adaptation
// are then a few vector operations each instead of a dozen scalar ones.
// Shared by the SSE2 runs and the AVX2 run that filters each block first;
// only for code compiled with SSE2.
#pragma once

#include "decoder/Predictor3950.h"
#include "dsp/PredictorArithmetic.h"

#include <emmintrin.h>

namespace ape::sse2 {

using Channel32 = Predictor3950::Channel<std::int32_t>;

// Low 32 bits of the lane-wise products (SSE2 has no 32-bit multiply).
inline __m128i multiplyLow(__m128i a, __m128i b)
{
    __m128i even = _mm_mul_epu32(a, b);
    __m128i odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
    return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                              _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}

inline std::int32_t times31Over32(std::int32_t v)
{
    return std::int32_t(std::uint32_t(v) * 31u) >> 5;
}

// -1, 0 or +1 per lane.
inline __m128i signs(__m128i v)
{
    const __m128i zero = _mm_setzero_si128();
    return _mm_sub_epi32(_mm_cmpgt_epi32(zero, v), _mm_cmpgt_epi32(v, zero));
}

// A step's two sums, as 32-bit arithmetic wraps them: A's, and B's five
// products.
struct StepSums {
    std::int32_t a, b;
};

// For runs that need no watching.
struct NoWatch {
    void history(std::int32_t) {}
    void smoothed(std::int32_t) {}
    void coefficients(__m128i, __m128i, std::int32_t) {}
    template <class Channel>
    [[gnu::always_inline]] StepSums sums(const Channel& c)
    {
        return c.sums();
    }
    bool held() const { return true; }
};

// The watches' bounds on the registers (see RangeWatch).
class RegisterWatch {
public:
    void history(std::int32_t v) { historyBits |= magnitude(v); }
    void smoothed(std::int32_t v) { smoothedBits |= magnitude(v); }
    // Single-precision sums need no bound on the coefficients; exact ones do.
    void coefficients(__m128i, __m128i, std::int32_t) {}
    bool held() const { return historyBits < (1u << 30) && smoothedBits < (1u << 26); }

protected:
    // |v|, or |v| - 1 for negative v: below 2^k exactly when -2^k <= v < 2^k.
    static std::uint32_t magnitude(std::int32_t v) { return std::uint32_t(v ^ (v >> 31)); }

private:
    std::uint32_t historyBits = 0, smoothedBits = 0;
};

// Bounds that prove a 32-bit run computes what exact 64-bit arithmetic
// would. Adding, subtracting and multiplying agree in both widths modulo
// 2^32, so the widths part only where a value that left 32 bits is stored
// in a register or shifted right. Registers hold differences of lastA and
// B-head values, safe while those stay within 2^30; the times-31 smoothing
// is safe while filterA and filterB stay within 2^26; the two sums shifted
// right (pB, and pA + pB / 2) must stay below 2^31. The sums are taken in
// single precision: their error is below 2^-20 of the sum of the products'
// magnitudes, so the largest sum seen must stay that far under 2^31. (A
// fixed cap on the magnitudes refused most chunks of quiet 24-bit noise,
// whose large products cancel.) A value that first broke a bound had exact
// operands, so bounds that hold on every value seen hold for the whole run.
class RangeWatch : public RegisterWatch {
public:
    template <class Channel>
    [[gnu::always_inline]] StepSums sums(const Channel& c)
    {
        products(c.rA, c.cA, c.rB, c.cB, c.rB4, c.cB4);
        return c.sums();
    }
    void products(__m128i rA, __m128i cA, __m128i rB, __m128i cB, std::int32_t rB4, std::int32_t cB4)
    {
        const __m128 absolute = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
        const __m128 half = _mm_set1_ps(0.5f);
        const __m128 a = _mm_mul_ps(_mm_cvtepi32_ps(rA), _mm_cvtepi32_ps(cA));
        const __m128 b = _mm_mul_ps(_mm_cvtepi32_ps(rB), _mm_cvtepi32_ps(cB));
        const __m128 zero = _mm_setzero_ps();
        const __m128 e = _mm_mul_ss(_mm_cvtsi32_ss(zero, rB4), _mm_cvtsi32_ss(zero, cB4));
        // Lane 0: pA + pB / 2, lane 1: pB.
        const __m128 w = _mm_add_ps(a, _mm_mul_ps(b, half));
        __m128 sums = _mm_add_ps(_mm_unpacklo_ps(w, b), _mm_unpackhi_ps(w, b));
        sums = _mm_add_ps(sums, _mm_movehl_ps(sums, sums));
        sums = _mm_add_ps(sums, _mm_unpacklo_ps(_mm_mul_ss(e, half), e));
        largestSums = _mm_max_ps(largestSums, _mm_and_ps(sums, absolute));
        magnitudes = _mm_max_ps(magnitudes, _mm_add_ps(_mm_and_ps(a, absolute), _mm_and_ps(b, absolute)));
        fifth = _mm_max_ss(fifth, _mm_and_ps(e, absolute));
    }
    bool held() const
    {
        alignas(16) float m[4], s[4];
        _mm_store_ps(m, magnitudes);
        _mm_store_ps(s, largestSums);
        const double total = double(m[0]) + m[1] + m[2] + m[3] + _mm_cvtss_f32(fifth);
        const double limit = 2147483648.0 - 256.0 - total / 1048576.0; // 2^31 less the rounding's bound
        return RegisterWatch::held() && s[0] < limit && s[1] < limit;
    }

private:
    __m128 largestSums = _mm_setzero_ps(), magnitudes = _mm_setzero_ps(), fifth = _mm_setzero_ps();
};

struct VectorChannel {
    __m128i rA, cA, rB, cB; // rB and cB: entries 0..3
    std::int32_t rB4, cB4;
    std::int32_t lastA, filterA, filterB;

    explicit VectorChannel(const Channel32& c)
        : rA(_mm_setr_epi32(c.rA[0], c.rA[1], c.rA[2], c.rA[3])),
          cA(_mm_setr_epi32(c.cA[0], c.cA[1], c.cA[2], c.cA[3])),
          rB(_mm_setr_epi32(c.rB[0], c.rB[1], c.rB[2], c.rB[3])),
          cB(_mm_setr_epi32(c.cB[0], c.cB[1], c.cB[2], c.cB[3])), rB4(c.rB[4]), cB4(c.cB[4]), lastA(c.lastA),
          filterA(c.filterA), filterB(c.filterB)
    {
    }

    [[gnu::always_inline]] void store(Channel32& c) const
    {
        alignas(16) std::int32_t v[4][4];
        _mm_store_si128(reinterpret_cast<__m128i*>(v[0]), rA);
        _mm_store_si128(reinterpret_cast<__m128i*>(v[1]), cA);
        _mm_store_si128(reinterpret_cast<__m128i*>(v[2]), rB);
        _mm_store_si128(reinterpret_cast<__m128i*>(v[3]), cB);
        for (int i = 0; i < 4; ++i) {
            c.rA[i] = v[0][i];
            c.cA[i] = v[1][i];
            c.rB[i] = v[2][i];
            c.cB[i] = v[3][i];
        }
        c.rB[4] = rB4;
        c.cB[4] = cB4;
        c.lastA = lastA;
        c.filterA = filterA;
        c.filterB = filterB;
    }

    // [head, head - r0, r1, r2] from [r0, r1, r2, r3]: the register shift of
    // the format, with the new difference in entry 1.
    static __m128i shifted(__m128i r, std::int32_t head)
    {
        const __m128i negateSecond = _mm_setr_epi32(0, -1, 0, 0);
        __m128i h = _mm_cvtsi32_si128(head);
        h = _mm_unpacklo_epi32(h, h); // [head, head, 0, 0]
        __m128i up = _mm_xor_si128(_mm_slli_si128(r, 4), negateSecond);
        return _mm_sub_epi32(_mm_add_epi32(h, up), negateSecond);
    }

    // The values a run starts from that its operations take without
    // computing them first.
    template <class Watch>
    [[gnu::always_inline]] void watchStart(Watch& watch) const
    {
        watch.history(lastA);
        watch.history(_mm_cvtsi128_si32(rA));
        watch.history(_mm_cvtsi128_si32(rB));
        watch.smoothed(filterA);
        watch.smoothed(filterB);
        watch.coefficients(cA, cB, cB4);
    }

    // The watch supplies the sums: those of sums() below, or its own.
    template <class Watch = NoWatch>
    [[gnu::always_inline]] std::int32_t step(std::int32_t input, std::int32_t other, Watch&& watch = Watch{})
    {
        shift(other);
        return finish(input, watch.sums(*this), watch);
    }

    // The sums of the shifted registers' products.
    [[gnu::always_inline]] StepSums sums() const
    {
        // Lane 0: the A sum, lane 2: the sum of the first four B products.
        __m128i pA = multiplyLow(rA, cA), pB = multiplyLow(rB, cB);
        __m128i h = _mm_add_epi32(_mm_unpacklo_epi64(pA, pB), _mm_unpackhi_epi64(pA, pB));
        h = _mm_add_epi32(h, _mm_shuffle_epi32(h, _MM_SHUFFLE(2, 3, 0, 1)));
        return {_mm_cvtsi128_si32(h), wrapAdd(_mm_cvtsi128_si32(_mm_shuffle_epi32(h, _MM_SHUFFLE(2, 2, 2, 2))),
                                              std::int32_t(std::uint32_t(rB4) * std::uint32_t(cB4)))};
    }

    // The A part alone: the step of mono frames.
    [[gnu::always_inline]] std::int32_t monoStep(std::int32_t input)
    {
        rA = shifted(rA, lastA);
        __m128i p = multiplyLow(rA, cA);
        p = _mm_add_epi32(p, _mm_shuffle_epi32(p, _MM_SHUFFLE(1, 0, 3, 2)));
        p = _mm_add_epi32(p, _mm_shuffle_epi32(p, _MM_SHUFFLE(2, 3, 0, 1)));
        lastA = wrapAdd(input, _mm_cvtsi128_si32(p) >> 10);
        filterA = wrapAdd(lastA, times31Over32(filterA));
        cA = _mm_add_epi32(cA, Adaptation(input)(rA));
        return filterA;
    }

private:
    // The registers shifted in; `other` is what the B part sees.
    [[gnu::always_inline]] void shift(std::int32_t other)
    {
        rA = shifted(rA, lastA);
        const std::int32_t b0 = wrapSub(other, times31Over32(filterB));
        rB4 = _mm_cvtsi128_si32(_mm_shuffle_epi32(rB, _MM_SHUFFLE(3, 3, 3, 3)));
        rB = shifted(rB, b0);
        filterB = other;
    }

    // The output and the adaptation from the sums.
    template <class Watch>
    [[gnu::always_inline]] std::int32_t finish(std::int32_t input, StepSums sum, Watch& watch)
    {
        lastA = wrapAdd(input, wrapAdd(sum.a, sum.b >> 1) >> 10);
        filterA = wrapAdd(lastA, times31Over32(filterA));
        watch.history(lastA);
        watch.smoothed(filterA);

        const Adaptation adapt(input);
        cA = _mm_add_epi32(cA, adapt(rA));
        cB = _mm_add_epi32(cB, adapt(rB));
        cB4 += sgn(rB4) * adapt.s;
        return filterA;
    }

    // Coefficients move by the register's sign times the input's sign: the
    // sign vector, negated for a negative input, cleared for zero.
    struct Adaptation {
        std::int32_t s;
        __m128i negate, keep;

        explicit Adaptation(std::int32_t input)
            : s(sgn(input)), negate(_mm_set1_epi32(-(s < 0))), keep(_mm_set1_epi32(-(s != 0)))
        {
        }
        __m128i operator()(__m128i registers) const
        {
            return _mm_and_si128(_mm_sub_epi32(_mm_xor_si128(signs(registers), negate), negate), keep);
        }
    };
};

} // namespace ape::sse2
