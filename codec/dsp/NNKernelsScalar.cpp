#include "dsp/NNKernels.h"

#include "dsp/NNRun.h"

namespace ape {
namespace {

std::int32_t dotScalar(const std::int16_t* coef, const std::int16_t* hist, int order)
{
    std::uint32_t sum = 0; // unsigned: the sum wraps by design
    for (int j = 0; j < order; ++j)
        sum += std::uint32_t(std::int32_t(coef[j]) * hist[j]);
    return std::int32_t(sum);
}

void adaptScalar(std::int16_t* coef, const std::int16_t* adapt, int order, int direction)
{
    if (direction > 0) {
        for (int j = 0; j < order; ++j)
            coef[j] = std::int16_t(coef[j] + adapt[j]);
    } else if (direction < 0) {
        for (int j = 0; j < order; ++j)
            coef[j] = std::int16_t(coef[j] - adapt[j]);
    }
}

std::int32_t dotAndAdaptScalar(std::int16_t* coef, const std::int16_t* hist, const std::int16_t* adapt, int order,
                               int direction)
{
    std::int32_t sum = dotScalar(coef, hist, order);
    adaptScalar(coef, adapt, order, direction);
    return sum;
}

template <int Order, bool New>
struct ScalarRun {
    static void run(NNRunState& s, std::int32_t* values, std::size_t count)
    {
        const int order = Order ? Order : s.order;
        for (std::size_t i = 0; i < count; ++i) {
            const std::int32_t residual = values[i];
            const std::int32_t dot =
                dotAndAdaptScalar(s.coef, s.hist + s.pos, s.adapt + s.pos, order, nn::negatedSign(residual));
            values[i] = nn::output(dot, s.fraction, residual);
            nn::push<New>(s, order, values[i]);
        }
    }
};

NNDecodeRun scalarRun(int order, bool newAdaptation)
{
    return nn::chooseRun<ScalarRun>(order, newAdaptation);
}

constexpr NNKernels scalar{dotScalar, adaptScalar, dotAndAdaptScalar, scalarRun, "scalar"};

} // namespace

const NNKernels& scalarNNKernels()
{
    return scalar;
}

const NNKernels& bestNNKernels()
{
    static const NNKernels& best = avx512NNKernels() ? *avx512NNKernels()
                                   : avx2NNKernels() ? *avx2NNKernels()
                                   : sse2NNKernels() ? *sse2NNKernels()
                                                     : scalarNNKernels();
    return best;
}

} // namespace ape
