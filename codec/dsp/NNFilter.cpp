#include "NNFilter.h"

#include "NNRun.h"

#include <algorithm>

namespace ape {

NNFilter::NNFilter(int order, int fraction, NNAdaptation adaptation, const NNKernels& kernels)
    : order_(order), fraction_(fraction), adaptation_(adaptation), kernels_(kernels),
      decodeRun_(kernels.decodeRun(order, adaptation == NNAdaptation::new3980)), coef_(size_t(order)),
      hist_(size_t(order + nn::window)), adapt_(size_t(order + nn::window))
{
}

NNRunState NNFilter::runState()
{
    return {coef_.data(), hist_.data(), adapt_.data(), order_, fraction_, pos_, average_};
}

void NNFilter::finish(const NNRunState& state)
{
    pos_ = state.pos;
    average_ = state.average;
}

void NNFilter::reset()
{
    std::fill(coef_.begin(), coef_.end(), 0);
    std::fill(hist_.begin(), hist_.end(), 0);
    std::fill(adapt_.begin(), adapt_.end(), 0);
    pos_ = 0;
    average_ = 0;
}

template <bool New> void NNFilter::encodeRun(int32_t* values, size_t count)
{
    NNRunState s = runState();
    for (size_t i = 0; i < count; ++i) {
        int32_t output = values[i];
        int32_t dot = kernels_.dot(s.coef, s.hist + s.pos, s.order);
        int32_t residual = int32_t(uint32_t(output) - uint32_t(nn::roundedShift(dot, s.fraction)));
        kernels_.adapt(s.coef, s.adapt + s.pos, s.order, nn::negatedSign(residual));
        nn::push<New>(s, s.order, output);
        values[i] = residual;
    }
    finish(s);
}

void NNFilter::decode(int32_t* values, size_t count)
{
    NNRunState s = runState();
    decodeRun_(s, values, count);
    finish(s);
}

void NNFilter::encode(int32_t* values, size_t count)
{
    if (adaptation_ == NNAdaptation::new3980)
        encodeRun<true>(values, count);
    else
        encodeRun<false>(values, count);
}

} // namespace ape
