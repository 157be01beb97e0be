#include "decoder/Predictor3930.h"

namespace ape {

void Predictor3930::reset()
{
    yChannel = Channel{};
    xChannel = Channel{};
}

inline std::int32_t Predictor3930::Channel::step(std::int32_t input)
{
    history[3] = history[2];
    history[2] = history[1];
    history[1] = history[0];
    history[0] = lastA;
    std::uint32_t d[4] = {history[0], history[0] - history[1], history[1] - history[2], history[2] - history[3]};
    std::uint32_t p = 0;
    for (int i = 0; i < 4; ++i)
        p += d[i] * std::uint32_t(cA[i]);
    lastA = std::uint32_t(input) + std::uint32_t(std::int32_t(p) >> 9);
    filterA = lastA + std::uint32_t(std::int32_t(31 * filterA) >> 5);
    int s = sgn(input);
    for (int i = 0; i < 4; ++i)
        cA[i] += (std::int32_t(d[i]) >= 0 ? 1 : -1) * s;
    return std::int32_t(filterA);
}

void Predictor3930::stereo(const std::int32_t* slot0, const std::int32_t* slot1, std::int32_t* y, std::int32_t* x,
                           std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        y[i] = yChannel.step(slot1[i]);
        x[i] = xChannel.step(slot0[i]);
    }
}

void Predictor3930::mono(std::int32_t* values, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        values[i] = yChannel.step(values[i]);
}

} // namespace ape
