#include "NnFilterEncoder.h"

#include <algorithm>

namespace ape {

namespace {

constexpr std::size_t kSlack = 512;   // steps between two window moves

std::int16_t clip16(std::int32_t v)
{
    return static_cast<std::int16_t>(std::clamp<std::int32_t>(v, INT16_MIN, INT16_MAX));
}

}  // namespace

NnFilterEncoder::NnFilterEncoder(unsigned order, unsigned fractionBits, bool newAdaptation)
    : order_(order), fractionBits_(fractionBits), newAdaptation_(newAdaptation),
      coef_(order), history_(order + kSlack), adapt_(order + kSlack)
{
}

void NnFilterEncoder::reset()
{
    std::fill(coef_.begin(), coef_.end(), 0);
    std::fill(history_.begin(), history_.end(), 0);
    std::fill(adapt_.begin(), adapt_.end(), 0);
    start_ = 0;
    average_ = 0;
}

std::int32_t NnFilterEncoder::encode(std::int32_t output)
{
    const std::int16_t* hist = history_.data() + start_;
    const std::int16_t* adapt = adapt_.data() + start_;

    // Each product fits 32 bits; the decoder's sum wraps at 32 bits, which a
    // 64-bit sum reproduces once truncated.
    std::int64_t dot = 0;
    for (unsigned j = 0; j < order_; ++j)
        dot += coef_[j] * hist[j];
    const std::int64_t rounded = static_cast<std::int64_t>(static_cast<std::int32_t>(static_cast<std::uint32_t>(dot)))
        + (std::int64_t{1} << (fractionBits_ - 1));
    const auto prediction = static_cast<std::uint32_t>(static_cast<std::int32_t>(rounded >> fractionBits_));
    const auto input = static_cast<std::int32_t>(static_cast<std::uint32_t>(output) - prediction);

    if (input != 0) {
        // Coefficients move against the sign of the input (the error).
        const int direction = input > 0 ? -1 : 1;
        for (unsigned j = 0; j < order_; ++j)
            coef_[j] = static_cast<std::int16_t>(coef_[j] + direction * adapt[j]);
    }

    pushHistory(clip16(output), adaptationFor(output));
    return input;
}

std::int16_t NnFilterEncoder::adaptationFor(std::int32_t output)
{
    if (!newAdaptation_)
        return static_cast<std::int16_t>(output > 0 ? -4 : output < 0 ? 4 : 0);
    if (output == 0)
        return 0;
    // Larger steps for outputs that stand out from the running mean.
    const std::uint32_t magnitude = output < 0 ? 0u - static_cast<std::uint32_t>(output) : static_cast<std::uint32_t>(output);
    const int c1 = magnitude > std::uint64_t{3} * average_ ? 1 : 0;
    const int c2 = magnitude > average_ + average_ / 3 ? 1 : 0;
    const int step = 8 << (c1 + c2);
    average_ += static_cast<std::uint32_t>(static_cast<std::int32_t>(magnitude - average_) / 16);
    return static_cast<std::int16_t>(output > 0 ? -step : step);
}

void NnFilterEncoder::pushHistory(std::int16_t clipped, std::int16_t adaptation)
{
    if (start_ + order_ == history_.size()) {
        std::copy(history_.end() - order_, history_.end(), history_.begin());
        std::copy(adapt_.end() - order_, adapt_.end(), adapt_.begin());
        start_ = 0;
    }
    history_[start_ + order_] = clipped;
    adapt_[start_ + order_] = adaptation;
    ++start_;

    // Older entries weigh less: halve them as they age past fixed points.
    std::int16_t* adapt = adapt_.data() + start_;
    const unsigned n = order_;
    if (newAdaptation_) {
        adapt[n - 2] >>= 1;
        adapt[n - 3] >>= 1;
        adapt[n - 9] >>= 1;
    } else {
        adapt[n - 5] >>= 1;
        adapt[n - 9] >>= 1;
    }
}

}  // namespace ape
