// What the stage-1 predictors of the decoder and the encoder share: the
// coefficients a channel starts each frame with, the 32-bit arithmetic that
// wraps as the format's does (computed unsigned, so never undefined), and the
// sign the coefficients adapt by.
#pragma once

#include <cstdint>

namespace ape {

// The A coefficients of the order-4 filter over a channel's own past, as every
// predictor of version 3930 and later starts a frame with them.
constexpr std::int32_t predictorStartA[4] = {360, 317, -109, 98};

inline std::int32_t wrapAdd(std::int32_t a, std::int32_t b)
{
    return std::int32_t(std::uint32_t(a) + std::uint32_t(b));
}

inline std::int32_t wrapSub(std::int32_t a, std::int32_t b)
{
    return std::int32_t(std::uint32_t(a) - std::uint32_t(b));
}

inline std::int32_t wrapMul(std::int32_t a, std::int32_t b)
{
    return std::int32_t(std::uint32_t(a) * std::uint32_t(b));
}

// -1, 0 or +1.
template <class T>
constexpr int sgn(T v)
{
    return (v > 0) - (v < 0);
}

} // namespace ape
