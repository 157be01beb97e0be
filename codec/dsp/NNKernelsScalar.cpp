#include "NNKernels.h"

#include "NNRun.h"

namespace ape {
namespace {

int32_t dotScalar(const int16_t* coef, const int16_t* hist, int order)
{
    uint32_t sum = 0; // unsigned: the sum wraps by design
    for (int j = 0; j < order; ++j)
        sum += uint32_t(int32_t(coef[j]) * hist[j]);
    return int32_t(sum);
}

void adaptScalar(int16_t* coef, const int16_t* adapt, int order, int direction)
{
    if (direction > 0) {
        for (int j = 0; j < order; ++j)
            coef[j] = int16_t(coef[j] + adapt[j]);
    } else if (direction < 0) {
        for (int j = 0; j < order; ++j)
            coef[j] = int16_t(coef[j] - adapt[j]);
    }
}

int32_t dotAndAdaptScalar(int16_t* coef, const int16_t* hist, const int16_t* adapt, int order, int direction)
{
    int32_t sum = dotScalar(coef, hist, order);
    adaptScalar(coef, adapt, order, direction);
    return sum;
}

template <int Order, bool New> struct ScalarRun {
    static void run(NNRunState& s, int32_t* values, size_t count)
    {
        const int order = Order ? Order : s.order;
        for (size_t i = 0; i < count; ++i) {
            const int32_t residual = values[i];
            const int32_t dot =
                dotAndAdaptScalar(s.coef, s.hist + s.pos, s.adapt + s.pos, order, nn::negatedSign(residual));
            values[i] = nn::output(dot, s.fraction, residual);
            nn::push<New>(s, order, values[i]);
        }
    }
};

NNDecodeRun scalarRun(int order, bool newAdaptation) { return nn::chooseRun<ScalarRun>(order, newAdaptation); }

constexpr NNKernels scalar{dotScalar, adaptScalar, dotAndAdaptScalar, scalarRun, "scalar"};

} // namespace

const NNKernels& scalarNNKernels() { return scalar; }

const NNKernels& bestNNKernels()
{
    static const NNKernels& best = avx2NNKernels()   ? *avx2NNKernels()
                                   : sse2NNKernels() ? *sse2NNKernels()
                                                     : scalarNNKernels();
    return best;
}

} // namespace ape
