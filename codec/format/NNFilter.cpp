#include "NNFilter.h"

#include <algorithm>
#include <cstring>

namespace ape {
namespace {

int16_t clip16(int32_t v) { return int16_t(std::clamp<int32_t>(v, -32768, 32767)); }

// -1 for positive, +1 for negative, 0 for zero: the coefficient step's sign.
int negatedSign(int32_t v) { return (v < 0) - (v > 0); }

// (dot + 2^(shift-1)) >> shift as if computed in 33 bits or more, without
// 64-bit arithmetic (which costs on 32-bit targets): the rounding bit is
// the highest bit that the shift drops.
int32_t roundedShift(int32_t dot, int shift) { return (dot >> shift) + ((dot >> (shift - 1)) & 1); }

} // namespace

NNFilter::NNFilter(int order, int fraction, NNAdaptation adaptation, const NNKernels& kernels)
    : order_(order), fraction_(fraction), adaptation_(adaptation), kernels_(kernels), coef_(size_t(order)),
      hist_(size_t(order + window)), adapt_(size_t(order + window))
{
}

void NNFilter::reset()
{
    std::fill(coef_.begin(), coef_.end(), 0);
    std::fill(hist_.begin(), hist_.end(), 0);
    std::fill(adapt_.begin(), adapt_.end(), 0);
    pos_ = 0;
    average_ = 0;
}

template <NNAdaptation A> inline void NNFilter::push(int32_t output)
{
    int16_t* h = hist_.data() + pos_;
    int16_t* a = adapt_.data() + pos_;
    h[order_] = clip16(output);
    if constexpr (A == NNAdaptation::new3980) {
        uint32_t magnitude = output < 0 ? 0u - uint32_t(output) : uint32_t(output);
        int scale = (uint64_t(magnitude) > 3 * uint64_t(average_)) + (magnitude > average_ + average_ / 3);
        a[order_] = int16_t((8 << scale) * negatedSign(output));
        // A zero output still pulls the average down.
        average_ += uint32_t(int32_t(magnitude - average_) / 16);
        // Newest at order_: the values written 2, 3 and 9 steps ago lose half.
        a[order_ - 1] = int16_t(a[order_ - 1] >> 1);
        a[order_ - 2] = int16_t(a[order_ - 2] >> 1);
        a[order_ - 8] = int16_t(a[order_ - 8] >> 1);
    } else {
        a[order_] = int16_t(4 * negatedSign(output));
        a[order_ - 4] = int16_t(a[order_ - 4] >> 1);
        a[order_ - 8] = int16_t(a[order_ - 8] >> 1);
    }
    if (++pos_ == window) {
        std::memmove(hist_.data(), hist_.data() + window, size_t(order_) * sizeof(int16_t));
        std::memmove(adapt_.data(), adapt_.data() + window, size_t(order_) * sizeof(int16_t));
        pos_ = 0;
    }
}

template <NNAdaptation A> void NNFilter::decodeRun(int32_t* values, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        int32_t residual = values[i];
        int32_t dot = kernels_.dotAndAdapt(coef_.data(), hist_.data() + pos_, adapt_.data() + pos_, order_,
                                           negatedSign(residual));
        int32_t prediction = roundedShift(dot, fraction_);
        int32_t output = int32_t(uint32_t(prediction) + uint32_t(residual));
        push<A>(output);
        values[i] = output;
    }
}

template <NNAdaptation A> void NNFilter::encodeRun(int32_t* values, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        int32_t output = values[i];
        int32_t dot = kernels_.dot(coef_.data(), hist_.data() + pos_, order_);
        int32_t prediction = roundedShift(dot, fraction_);
        int32_t residual = int32_t(uint32_t(output) - uint32_t(prediction));
        kernels_.adapt(coef_.data(), adapt_.data() + pos_, order_, negatedSign(residual));
        push<A>(output);
        values[i] = residual;
    }
}

void NNFilter::decode(int32_t* values, size_t count)
{
    if (adaptation_ == NNAdaptation::new3980)
        decodeRun<NNAdaptation::new3980>(values, count);
    else
        decodeRun<NNAdaptation::old3930>(values, count);
}

void NNFilter::encode(int32_t* values, size_t count)
{
    if (adaptation_ == NNAdaptation::new3980)
        encodeRun<NNAdaptation::new3980>(values, count);
    else
        encodeRun<NNAdaptation::old3930>(values, count);
}

} // namespace ape
