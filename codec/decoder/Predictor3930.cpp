#include "Predictor3930.h"

namespace ape {

void Predictor3930::reset()
{
    y_ = Channel{};
    x_ = Channel{};
}

inline int32_t Predictor3930::Channel::step(int32_t input)
{
    history[3] = history[2];
    history[2] = history[1];
    history[1] = history[0];
    history[0] = lastA;
    uint32_t d[4] = {history[0], history[0] - history[1], history[1] - history[2], history[2] - history[3]};
    uint32_t p = 0;
    for (int i = 0; i < 4; ++i)
        p += d[i] * uint32_t(cA[i]);
    lastA = uint32_t(input) + uint32_t(int32_t(p) >> 9);
    filterA = lastA + uint32_t(int32_t(31 * filterA) >> 5);
    int s = (input > 0) - (input < 0);
    for (int i = 0; i < 4; ++i)
        cA[i] += (int32_t(d[i]) >= 0 ? 1 : -1) * s;
    return int32_t(filterA);
}

void Predictor3930::stereo(const int32_t* slot0, const int32_t* slot1, int32_t* y, int32_t* x, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        y[i] = y_.step(slot1[i]);
        x[i] = x_.step(slot0[i]);
    }
}

void Predictor3930::mono(int32_t* values, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        values[i] = y_.step(values[i]);
}

} // namespace ape
