// AVX2 kernels, used only when the processor reports AVX2 at run time; the
// functions carry their own target attribute, so the rest of the build stays
// at the SSE2 baseline.
#include "dsp/NNKernels.h"

#include "dsp/NNRun.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define APE_HAVE_AVX2_KERNELS 1
#endif

namespace ape {

#if defined(APE_HAVE_AVX2_KERNELS)
namespace {

#define APE_AVX2 __attribute__((target("avx2")))

APE_AVX2 std::int32_t horizontalSum(__m256i v)
{
    __m128i s = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, _MM_SHUFFLE(1, 0, 3, 2)));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(s);
}

// Orders are multiples of 16: one vector of 16 taps per iteration.
APE_AVX2 std::int32_t dotAvx2(const std::int16_t* coef, const std::int16_t* hist, int order)
{
    __m256i sum = _mm256_setzero_si256();
    for (int j = 0; j < order; j += 16) {
        __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(coef + j));
        __m256i h = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(hist + j));
        sum = _mm256_add_epi32(sum, _mm256_madd_epi16(c, h));
    }
    return horizontalSum(sum);
}

APE_AVX2 void adaptAvx2(std::int16_t* coef, const std::int16_t* adapt, int order, int direction)
{
    if (direction == 0)
        return;
    for (int j = 0; j < order; j += 16) {
        auto* c = reinterpret_cast<__m256i*>(coef + j);
        __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(adapt + j));
        __m256i v = _mm256_loadu_si256(c);
        v = direction > 0 ? _mm256_add_epi16(v, a) : _mm256_sub_epi16(v, a);
        _mm256_storeu_si256(c, v);
    }
}

template <int Direction>
APE_AVX2 std::int32_t dotAndAdaptLoop(std::int16_t* coef, const std::int16_t* hist, const std::int16_t* adapt,
                                      int order)
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
    return horizontalSum(sum);
}

APE_AVX2 std::int32_t dotAndAdaptAvx2(std::int16_t* coef, const std::int16_t* hist, const std::int16_t* adapt,
                                      int order, int direction)
{
    if (direction > 0)
        return dotAndAdaptLoop<1>(coef, hist, adapt, order);
    if (direction < 0)
        return dotAndAdaptLoop<-1>(coef, hist, adapt, order);
    return dotAndAdaptLoop<0>(coef, hist, adapt, order);
}

// One decoding step's dot product and adaptation; the sign instruction
// applies the residual's sign without a branch, which the sign of a residual
// (a coin toss to the branch predictor) would mispredict often, at every
// order; only the loop for orders without their own keeps the branch.
template <int Order>
APE_AVX2 inline std::int32_t stepAvx2(std::int16_t* coef, const std::int16_t* hist, const std::int16_t* adapt,
                                      int order, int direction)
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
        __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(adapt + j));
        _mm256_storeu_si256(c, _mm256_add_epi16(v, _mm256_sign_epi16(a, d)));
    }
    return horizontalSum(sum);
}

// Written out here rather than shared: the loop must carry the AVX2
// target itself for the step to be inlined into it.
template <int Order, bool New>
struct Avx2Run {
    APE_AVX2 static void run(NNRunState& s, std::int32_t* values, std::size_t count)
    {
        const int order = Order ? Order : s.order;
        for (std::size_t i = 0; i < count; ++i) {
            const std::int32_t residual = values[i];
            const std::int32_t dot =
                stepAvx2<Order>(s.coef, s.hist + s.pos, s.adapt + s.pos, order, nn::negatedSign(residual));
            values[i] = nn::output(dot, s.fraction, residual);
            nn::push<New>(s, order, values[i]);
        }
    }
};

NNDecodeRun avx2Run(int order, bool newAdaptation)
{
    return nn::chooseRun<Avx2Run>(order, newAdaptation);
}

constexpr NNKernels avx2{dotAvx2, adaptAvx2, dotAndAdaptAvx2, avx2Run, "avx2"};

} // namespace

const NNKernels* avx2NNKernels()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? &avx2 : nullptr;
}
#else
const NNKernels* avx2NNKernels()
{
    return nullptr;
}
#endif

} // namespace ape
