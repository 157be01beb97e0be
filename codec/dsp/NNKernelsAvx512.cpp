// The AVX-512 decoding loop for level 5000's 1280-tap filter, used only when
// the processor reports AVX-512BW and VNNI at run time. The other orders and
// the encoder's kernels stay AVX2's: at 256 taps and fewer, the longer
// reduction and the mirrored window cost more than the wider vectors save.
#include "dsp/NNKernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include "dsp/NNStepAvx2.h"
#include "dsp/NNStepAvx512.h"
#define APE_HAVE_AVX512_KERNELS 1
#endif

namespace ape {

#if defined(APE_HAVE_AVX512_KERNELS)
namespace {

template <int Order, bool New>
struct Avx512Run {
    APE_AVX512 static void run(NNRunState& s, std::int32_t* values, std::size_t count)
    {
        for (std::size_t i = 0; i < count; ++i) {
            if constexpr (Order == 1280)
                values[i] = nn::decodeStepAvx512<Order, New>(s, values[i]);
            else
                values[i] = nn::decodeStepAvx2<Order, New>(s, values[i]);
        }
    }
};

NNDecodeRun avx512Run(int order, bool newAdaptation)
{
    return nn::chooseRun<Avx512Run>(order, newAdaptation);
}

} // namespace

bool processorHasAvx512()
{
    static const bool available = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0 &&
               __builtin_cpu_supports("avx512vnni") != 0 && processorHasAvx2();
    }();
    return available;
}

const NNKernels* avx512NNKernels()
{
    if (!processorHasAvx512())
        return nullptr;
    static const NNKernels avx512 = [] {
        NNKernels k = *avx2NNKernels();
        k.decodeRun = avx512Run;
        k.name = "avx512";
        return k;
    }();
    return &avx512;
}
#else
bool processorHasAvx512()
{
    return false;
}

const NNKernels* avx512NNKernels()
{
    return nullptr;
}
#endif

} // namespace ape
