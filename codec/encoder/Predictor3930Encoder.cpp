#include "encoder/Predictor3930Encoder.h"

#include <initializer_list>

#include "dsp/PredictorArithmetic.h"

namespace ape {

namespace {

std::int32_t wrap(std::uint32_t v)
{
    return static_cast<std::int32_t>(v);
}

std::uint32_t u(std::int32_t v)
{
    return static_cast<std::uint32_t>(v);
}

} // namespace

Predictor3930Encoder::Predictor3930Encoder()
{
    reset();
}

void Predictor3930Encoder::reset()
{
    for (Channel* ch : {&yChannel, &xChannel}) {
        *ch = Channel{};
        for (int i = 0; i < 4; ++i)
            ch->coef[i] = predictorStartA[i];
    }
}

std::int32_t Predictor3930Encoder::step(Channel& ch, std::int32_t target)
{
    std::int32_t* h = ch.history;
    h[3] = h[2];
    h[2] = h[1];
    h[1] = h[0];
    h[0] = ch.lastA;
    const std::int32_t d[4] = {h[0], wrap(u(h[0]) - u(h[1])), wrap(u(h[1]) - u(h[2])), wrap(u(h[2]) - u(h[3]))};

    std::uint32_t p = 0;
    for (int i = 0; i < 4; ++i)
        p += u(d[i]) * u(ch.coef[i]);

    ch.lastA = wrap(u(target) - u(wrap(u(ch.filterA) * 31u) >> 5));
    const std::int32_t residual = wrap(u(ch.lastA) - u(wrap(p) >> 9));
    ch.filterA = target;

    // Zero counts as positive for the registers here, unlike later versions.
    const int s = sgn(residual);
    for (int i = 0; i < 4; ++i)
        ch.coef[i] += (d[i] >= 0 ? 1 : -1) * s;
    return residual;
}

void Predictor3930Encoder::encodeStereo(std::int32_t y, std::int32_t x, std::int32_t& slot0, std::int32_t& slot1)
{
    slot1 = step(yChannel, y);
    slot0 = step(xChannel, x);
}

std::int32_t Predictor3930Encoder::encodeMono(std::int32_t sample)
{
    return step(yChannel, sample);
}

} // namespace ape
