// AVX2 kernels, used only when the processor reports AVX2 at run time; the
// functions carry their own target attribute, so the rest of the build stays
// at the SSE2 baseline.
#include "dsp/NNKernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include "dsp/NNStepAvx2.h"

#include <cpuid.h>
#define APE_HAVE_AVX2_KERNELS 1
#endif

namespace ape {

#if defined(APE_HAVE_AVX2_KERNELS)
namespace {

// Orders are multiples of 16: one vector of 16 taps per iteration.
APE_AVX2 std::int32_t dotAvx2(const std::int16_t* coef, const std::int16_t* hist, int order)
{
    __m256i sum = _mm256_setzero_si256();
    for (int j = 0; j < order; j += 16) {
        __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(coef + j));
        __m256i h = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(hist + j));
        sum = _mm256_add_epi32(sum, _mm256_madd_epi16(c, h));
    }
    return nn::horizontalSumAvx2(sum);
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

// The loop carries the AVX2 target itself, so that the step is inlined into it.
template <int Order, bool New>
struct Avx2Run {
    APE_AVX2 static void run(NNRunState& s, std::int32_t* values, std::size_t count)
    {
        if constexpr (Order >= nn::narrowFrom)
            nn::narrowAdaptation(s, Order);
        for (std::size_t i = 0; i < count; ++i)
            values[i] = nn::decodeStepAvx2<Order, New>(s, values[i]);
        if constexpr (Order >= nn::narrowFrom)
            nn::widenAdaptation(s, Order);
    }
};

NNDecodeRun avx2Run(int order, bool newAdaptation)
{
    return nn::chooseRun<Avx2Run>(order, newAdaptation);
}

constexpr NNKernels avx2{dotAvx2, adaptAvx2, nn::dotAndAdaptAvx2, avx2Run, "avx2"};

} // namespace

bool processorHasAvx2()
{
    static const bool available = [] {
        __builtin_cpu_init();
        // Asked of the processor itself: the compilers' feature tests do not
        // name lzcnt alike.
        constexpr unsigned lzcntBit = 1u << 5; // leaf 0x80000001, ecx
        unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
        const bool lzcnt = __get_cpuid(0x80000001u, &eax, &ebx, &ecx, &edx) && (ecx & lzcntBit) != 0;
        return __builtin_cpu_supports("avx2") != 0 && lzcnt;
    }();
    return available;
}

const NNKernels* avx2NNKernels()
{
    return processorHasAvx2() ? &avx2 : nullptr;
}
#else
bool processorHasAvx2()
{
    return false;
}

const NNKernels* avx2NNKernels()
{
    return nullptr;
}
#endif

} // namespace ape
