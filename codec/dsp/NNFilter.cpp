#include "dsp/NNFilter.h"

#include "dsp/NNRun.h"

#include <algorithm>

namespace ape {
namespace {

constexpr std::size_t lineBytes = 64;
constexpr std::size_t lineEntries = lineBytes / sizeof(std::int16_t);

} // namespace

NNFilter::NNFilter(int order, int fraction, NNAdaptation adaptation, const NNKernels& kernels)
    : filterOrder(order), fraction(fraction), adaptation(adaptation), kernels(kernels),
      decodeRun(kernels.decodeRun(order, adaptation == NNAdaptation::new3980)),
      coefStorage(std::size_t(order) + lineEntries), hist(std::size_t(order + nn::window)),
      adapt(std::size_t(order + nn::window)), negatedAdapt(std::size_t(order + nn::window)),
      narrowAdapt(order >= nn::narrowFrom ? std::size_t(order + nn::window) : 0)
{
}

std::int16_t* NNFilter::coef()
{
    const auto address = reinterpret_cast<std::uintptr_t>(coefStorage.data());
    return coefStorage.data() + (lineBytes - address % lineBytes) % lineBytes / sizeof(std::int16_t);
}

NNRunState NNFilter::runState()
{
    std::int8_t* narrow = narrowAdapt.empty() ? nullptr : narrowAdapt.data();
    return {coef(), hist.data(), adapt.data(), negatedAdapt.data(), narrow, filterOrder, fraction, pos, average};
}

void NNFilter::finish(const NNRunState& state)
{
    pos = state.pos;
    average = state.average;
}

void NNFilter::reset()
{
    std::fill(coefStorage.begin(), coefStorage.end(), 0);
    std::fill(hist.begin(), hist.end(), 0);
    std::fill(adapt.begin(), adapt.end(), 0);
    std::fill(negatedAdapt.begin(), negatedAdapt.end(), 0);
    pos = 0;
    average = 0;
}

template <bool New>
void NNFilter::encodeRun(std::int32_t* values, std::size_t count)
{
    NNRunState s = runState();
    for (std::size_t i = 0; i < count; ++i) {
        std::int32_t output = values[i];
        std::int32_t dot = kernels.dot(s.coef, s.hist + s.pos, s.order);
        std::int32_t residual = std::int32_t(std::uint32_t(output) - std::uint32_t(nn::roundedShift(dot, s.fraction)));
        kernels.adapt(s.coef, s.adapt + s.pos, s.order, nn::negatedSign(residual));
        nn::push<New>(s, s.order, output);
        values[i] = residual;
    }
    finish(s);
}

void NNFilter::decode(std::int32_t* values, std::size_t count)
{
    NNRunState s = runState();
    decodeRun(s, values, count);
    finish(s);
}

void NNFilter::encode(std::int32_t* values, std::size_t count)
{
    if (adaptation == NNAdaptation::new3980)
        encodeRun<true>(values, count);
    else
        encodeRun<false>(values, count);
}

} // namespace ape
