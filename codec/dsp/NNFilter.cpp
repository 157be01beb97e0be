#include "dsp/NNFilter.h"

#include "dsp/NNRun.h"

#include <algorithm>

namespace ape {
namespace {

constexpr std::size_t lineBytes = 64;
constexpr std::size_t pageBytes = 4096;

// Where each window starts relative to the coefficients, in bytes past a
// multiple of 4 KB. A step loads the windows' entries at each tap and then
// stores that tap's coefficients; a load whose address shares its low 12
// bits with an earlier store still in flight waits for that store. A word
// window that starts a little past the coefficients, modulo 4 KB, trails
// their stores at every position it slides through; the byte window's place
// is the fastest of those measured. Placed by the allocator, 2.5 to 3.5 KB
// past, the 1280-tap step ran up to 12 % slower. The places differ a little
// so that the windows do not all fill the same cache sets. (Shorter filters
// measured the same placed or packed: one rule serves all.)
constexpr std::size_t histPlace = 64, adaptPlace = 320, negatedPlace = 576, narrowPlace = 1024;

} // namespace

NNFilter::NNFilter(int order, int fraction, NNAdaptation adaptation, const NNKernels& kernels)
    : filterOrder(order), fraction(fraction), adaptation(adaptation), kernels(kernels),
      decodeRun(kernels.decodeRun(order, adaptation == NNAdaptation::new3980))
{
    // Offsets from the coefficients: each region the first at its place
    // past the one before.
    std::size_t end = std::size_t(order) * sizeof(std::int16_t);
    auto next = [&end](std::size_t place, std::size_t bytes) {
        const std::size_t at = end + (place + pageBytes - end % pageBytes) % pageBytes;
        end = at + bytes;
        return at;
    };
    const std::size_t windowEntries = std::size_t(order + nn::window);
    const std::size_t histAt = next(histPlace, windowEntries * sizeof(std::int16_t));
    const std::size_t adaptAt = next(adaptPlace, windowEntries * sizeof(std::int16_t));
    const std::size_t negatedAt = next(negatedPlace, windowEntries * sizeof(std::int16_t));
    const std::size_t narrowAt = order >= nn::narrowFrom ? next(narrowPlace, windowEntries) : 0;
    storage.resize((lineBytes + end) / sizeof(std::int16_t) + 1);
    const auto address = reinterpret_cast<std::uintptr_t>(storage.data());
    auto* const base = reinterpret_cast<char*>(storage.data()) + (lineBytes - address % lineBytes) % lineBytes;
    coef = reinterpret_cast<std::int16_t*>(base);
    hist = reinterpret_cast<std::int16_t*>(base + histAt);
    adapt = reinterpret_cast<std::int16_t*>(base + adaptAt);
    negatedAdapt = reinterpret_cast<std::int16_t*>(base + negatedAt);
    narrowAdapt = narrowAt ? reinterpret_cast<std::int8_t*>(base + narrowAt) : nullptr;
}

NNRunState NNFilter::runState()
{
    return {coef, hist, adapt, negatedAdapt, narrowAdapt, filterOrder, fraction, pos, average};
}

void NNFilter::finish(const NNRunState& state)
{
    pos = state.pos;
    average = state.average;
}

void NNFilter::reset()
{
    const std::size_t windowEntries = std::size_t(filterOrder + nn::window);
    std::fill_n(coef, filterOrder, 0);
    std::fill_n(hist, windowEntries, 0);
    std::fill_n(adapt, windowEntries, 0);
    std::fill_n(negatedAdapt, windowEntries, 0);
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
