#include "encoder/Predictor3950Encoder.h"

#include <initializer_list>

#include "dsp/PredictorArithmetic.h"
#include "encoder/EncodeError.h"

namespace ape {

namespace {

std::int32_t wrap32(std::int64_t v)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}

// Decoders take a register's sign from its low 32 bits.
int sgn32(std::int64_t v)
{
    return sgn(wrap32(v));
}

// (31 * f) >> 5, the decay of the final integrator.
std::int64_t decay(std::int64_t f)
{
    return (31 * f) >> 5;
}

} // namespace

Predictor3950Encoder::Predictor3950Encoder(StereoWidth width) : width(width)
{
    reset();
}

void Predictor3950Encoder::reset()
{
    for (Channel* ch : {&yChannel, &xChannel}) {
        *ch = Channel{};
        for (int i = 0; i < 4; ++i)
            ch->cA[i] = predictorStartA[i];
    }
}

std::int32_t Predictor3950Encoder::stereoStep(Channel& ch, std::int32_t target, std::int64_t other)
{
    ch.rA[3] = ch.rA[2];
    ch.rA[2] = ch.rA[1];
    ch.rA[1] = ch.lastA - ch.rA[0];
    ch.rA[0] = ch.lastA;

    const std::int64_t b0 = other - decay(ch.filterB);
    ch.rB[4] = ch.rB[3];
    ch.rB[3] = ch.rB[2];
    ch.rB[2] = ch.rB[1];
    ch.rB[1] = b0 - ch.rB[0];
    ch.rB[0] = b0;
    ch.filterB = other;

    std::int64_t pA = 0;
    for (int i = 0; i < 4; ++i)
        pA += ch.rA[i] * ch.cA[i];
    std::int64_t pB = 0;
    for (int i = 0; i < 5; ++i)
        pB += ch.rB[i] * ch.cB[i];

    const std::int64_t lastA = target - decay(ch.filterA);
    const std::int64_t exact = lastA - ((pA + (pB >> 1)) >> 10);
    const std::int32_t t32 = wrap32(static_cast<std::int64_t>(wrap32(pA)) + (wrap32(pB) >> 1));
    const std::int32_t narrow = wrap32(lastA - (t32 >> 10));
    if (exact != narrow)
        ++conflictCount;
    if (width == StereoWidth::Bits64 && exact != wrap32(exact))
        throw EncodeError("stereo residual does not fit 32 bits");
    const std::int32_t residual = width == StereoWidth::Bits64 ? wrap32(exact) : narrow;

    ch.lastA = lastA;
    ch.filterA = target;
    const int s = sgn(residual);
    for (int i = 0; i < 4; ++i)
        ch.cA[i] += sgn32(ch.rA[i]) * s;
    for (int i = 0; i < 5; ++i)
        ch.cB[i] += sgn32(ch.rB[i]) * s;
    return residual;
}

void Predictor3950Encoder::encodeStereo(std::int32_t y, std::int32_t x, std::int32_t& slot0, std::int32_t& slot1)
{
    slot0 = stereoStep(yChannel, y, xChannel.filterA);
    slot1 = stereoStep(xChannel, x, yChannel.filterA);
}

std::int32_t Predictor3950Encoder::encodeMono(std::int32_t sample)
{
    Channel& ch = yChannel;
    ch.rA[3] = ch.rA[2];
    ch.rA[2] = ch.rA[1];
    ch.rA[1] = wrap32(ch.lastA - ch.rA[0]);
    ch.rA[0] = ch.lastA;

    // The mono sums wrap at 32 bits in every decoder.
    std::uint32_t pA = 0;
    for (int i = 0; i < 4; ++i)
        pA += static_cast<std::uint32_t>(wrap32(ch.rA[i])) * static_cast<std::uint32_t>(ch.cA[i]);

    const std::int64_t lastA = wrap32(sample - decay(ch.filterA));
    const std::int32_t residual = wrap32(lastA - (static_cast<std::int32_t>(pA) >> 10));

    ch.lastA = lastA;
    ch.filterA = sample;
    const int s = sgn(residual);
    for (int i = 0; i < 4; ++i)
        ch.cA[i] += sgn32(ch.rA[i]) * s;
    return residual;
}

} // namespace ape
