// The inner loops of the NN filters: a dot product of coefficients with the
// clipped history, and the sign-sign coefficient update, alone and as whole
// decoding loops. Plain C++ loops, an SSE2 set, an AVX2 set and an AVX-512
// set for the long filters; bestNNKernels() picks once, at start-up, the
// widest the processor supports.
// All arithmetic wraps: dot products modulo 2^32, coefficients modulo 2^16.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ape {

// One filter's state as a decoding run sees it; NNFilter owns the storage.
struct NNRunState {
    std::int16_t* coef;
    std::int16_t* hist;  // window: hist[pos .. pos + order) oldest first
    std::int16_t* adapt; // same layout as hist
    // -adapt, same layout, kept only by the loops that read it (the AVX-512
    // ones): a coefficient step is then one add of one window or the other.
    std::int16_t* negatedAdapt;
    // Room for adapt in bytes, where a run keeps it so (see nn::narrowFrom);
    // null for filters of fewer taps.
    std::int8_t* narrowAdapt;
    int order;
    int fraction;
    int pos;
    std::uint32_t average; // running mean magnitude of the outputs (new adaptation)
};

// Residuals in, filtered values out, in place, for `count` steps.
using NNDecodeRun = void (*)(NNRunState& state, std::int32_t* values, std::size_t count);

struct NNKernels {
    // Σ coef[j] × hist[j] for j < order.
    std::int32_t (*dot)(const std::int16_t* coef, const std::int16_t* hist, int order);
    // coef[j] += direction × adapt[j]; direction is -1, 0 or +1.
    void (*adapt)(std::int16_t* coef, const std::int16_t* adapt, int order, int direction);
    // dot() with the coefficients as they were, then adapt(): one pass.
    std::int32_t (*dotAndAdapt)(std::int16_t* coef, const std::int16_t* hist, const std::int16_t* adapt, int order,
                                int direction);
    // The whole decoding loop for a filter of `order` taps with the new
    // (3980) or the old adaptation rule, the kernel inlined into it.
    NNDecodeRun (*decodeRun)(int order, bool newAdaptation);
    const char* name;
};

const NNKernels& scalarNNKernels();
const NNKernels* sse2NNKernels();   // null where SSE2 is not compiled in
const NNKernels* avx2NNKernels();   // null where the processor lacks AVX2
const NNKernels* avx512NNKernels(); // null where it lacks AVX2, AVX-512BW or VNNI

// Whether the processor runs AVX2 code (and it is compiled in), checked once.
// The code chosen with it counts leading zeros too, so lzcnt is asked for.
bool processorHasAvx2();
// Whether it runs AVX-512F, BW and VNNI code as well as AVX2, checked once.
bool processorHasAvx512();
const NNKernels& bestNNKernels();

} // namespace ape
