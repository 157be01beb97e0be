// The per-sample work of an NN filter around its kernels, shared by
// NNFilter.cpp and the kernel files: each kernel file runs its own decoding
// loop with its dot-and-adapt step inlined, so the loop makes no call per
// sample. Plain code, inlined into whichever instruction set includes it.
#pragma once

#include "dsp/NNKernels.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ape::nn {

// Entries of the sliding windows between moves of their newest `order`
// entries back to the front.
constexpr int window = 512;

// The order from which a run's AVX2 steps keep the adaptation window in
// bytes (see narrowAdaptation() in NNStepAvx2.h): at 1280 taps that is
// faster, at 256 slower.
constexpr int narrowFrom = 1024;

inline std::int16_t clip16(std::int32_t v)
{
    return std::int16_t(std::clamp<std::int32_t>(v, -32768, 32767));
}

// -1 for positive, +1 for negative, 0 for zero: the coefficient step's sign.
inline int negatedSign(std::int32_t v)
{
    return (v < 0) - (v > 0);
}

// (dot + 2^(shift-1)) >> shift as if computed in 33 bits or more, without
// 64-bit arithmetic (which costs on 32-bit targets): the rounding bit is
// the highest bit that the shift drops.
inline std::int32_t roundedShift(std::int32_t dot, int shift)
{
    return (dot >> shift) + ((dot >> (shift - 1)) & 1);
}

// Appends one output to the history and its adaptation value, ages the
// older adaptation values and slides the windows when they are full; with
// Mirrored, keeps s.negatedAdapt too. `order` is s.order, passed so that a
// caller that knows it at compile time gets constant offsets. `adaptWindow`
// is s.adapt, or a run's copy of it in narrower values (no adaptation value
// exceeds 32 in magnitude).
template <bool New, bool Mirrored = false, class Adaptation = std::int16_t>
inline void push(NNRunState& s, int order, std::int32_t output, Adaptation* adaptWindow)
{
    std::int16_t* h = s.hist + s.pos;
    Adaptation* a = adaptWindow + s.pos;
    std::int16_t* n = Mirrored ? s.negatedAdapt + s.pos : nullptr;
    auto setAdapt = [&](int at, std::int32_t value) {
        a[at] = Adaptation(value);
        if constexpr (Mirrored)
            n[at] = std::int16_t(-value);
    };
    h[order] = clip16(output);
    if constexpr (New) {
        std::uint32_t magnitude = output < 0 ? 0u - std::uint32_t(output) : std::uint32_t(output);
        // 3 × average in 32 bits where it fits; beyond, no magnitude exceeds it.
        // (A 64-bit product costs several instructions on 32-bit targets.)
        const bool tripled = (magnitude > 3 * s.average) & (s.average <= 0x55555555u);
        int scale = int(tripled) + (magnitude > s.average + s.average / 3);
        setAdapt(order, (8 << scale) * negatedSign(output));
        // A zero output still pulls the average down.
        s.average += std::uint32_t(std::int32_t(magnitude - s.average) / 16);
        // Newest at order: the values written 2, 3 and 9 steps ago lose half.
        setAdapt(order - 1, a[order - 1] >> 1);
        setAdapt(order - 2, a[order - 2] >> 1);
        setAdapt(order - 8, a[order - 8] >> 1);
    } else {
        setAdapt(order, 4 * negatedSign(output));
        setAdapt(order - 4, a[order - 4] >> 1);
        setAdapt(order - 8, a[order - 8] >> 1);
    }
    if (++s.pos == window) {
        std::memmove(s.hist, s.hist + window, std::size_t(order) * sizeof(std::int16_t));
        std::memmove(adaptWindow, adaptWindow + window, std::size_t(order) * sizeof(Adaptation));
        if constexpr (Mirrored)
            std::memmove(s.negatedAdapt, s.negatedAdapt + window, std::size_t(order) * sizeof(std::int16_t));
        s.pos = 0;
    }
}

template <bool New, bool Mirrored = false>
inline void push(NNRunState& s, int order, std::int32_t output)
{
    push<New, Mirrored>(s, order, output, s.adapt);
}

// The value of one step from its residual and the dot product.
inline std::int32_t output(std::int32_t dot, int fraction, std::int32_t residual)
{
    return std::int32_t(std::uint32_t(roundedShift(dot, fraction)) + std::uint32_t(residual));
}

// The decoding run for one of the orders in use, or the generic one (order
// taken from the state) for any other: `Run<Order, New>` names a kernel
// file's loop. Chosen once per filter.
template <template <int, bool> class Run>
NNDecodeRun chooseRun(int order, bool newAdaptation)
{
    auto pick = [&](auto run, auto runOld) { return newAdaptation ? run : runOld; };
    switch (order) {
    case 16:
        return pick(Run<16, true>::run, Run<16, false>::run);
    case 32:
        return pick(Run<32, true>::run, Run<32, false>::run);
    case 64:
        return pick(Run<64, true>::run, Run<64, false>::run);
    case 256:
        return pick(Run<256, true>::run, Run<256, false>::run);
    case 1280:
        return pick(Run<1280, true>::run, Run<1280, false>::run);
    default:
        return pick(Run<0, true>::run, Run<0, false>::run);
    }
}

} // namespace ape::nn
