#include "decoder/StereoWidthRule.h"

#include <algorithm>

namespace ape {
namespace {

constexpr std::int32_t largest24 = 1 << 23; // largest magnitude a 24-bit chunk may reconstruct

bool outOfRange(const std::int32_t* left, const std::int32_t* right, std::size_t count)
{
    auto beyond = [](std::int32_t v) { return v > largest24 || v < -largest24; };
    return std::any_of(left, left + count, beyond) || std::any_of(right, right + count, beyond);
}

} // namespace

void reconstructStereo(std::int32_t* left, std::int32_t* right, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        std::int32_t y = left[i], x = right[i];
        std::uint32_t l = std::uint32_t(x) - std::uint32_t(y / 2);
        left[i] = std::int32_t(l);
        right[i] = std::int32_t(l + std::uint32_t(y));
    }
}

StereoWidthRule::StereoWidthRule(int bitsPerSample, std::size_t chunkBlocks)
    : mode(bitsPerSample == 24 ? Mode::undecided : Mode::narrow)
{
    if (mode == Mode::undecided) {
        scratchLeft.resize(chunkBlocks);
        scratchRight.resize(chunkBlocks);
    }
}

void StereoWidthRule::run(Predictor3950& predictor, const std::int32_t* slot0, const std::int32_t* slot1,
                          std::int32_t* left, std::int32_t* right, std::size_t count)
{
    if (mode == Mode::narrow) {
        predictor.stereo<PredictorWidth::wrap32>(slot0, slot1, left, right, count);
        reconstructStereo(left, right, count);
        return;
    }
    if (mode == Mode::wide) {
        predictor.stereo<PredictorWidth::exact64>(slot0, slot1, left, right, count);
        reconstructStereo(left, right, count);
        return;
    }
    const Predictor3950 atStart = predictor;
    // Usually no value leaves 32 bits: then one pass stands for both widths,
    // and the 64-bit trial would only repeat what the 32-bit one found. The
    // pass yields the 32-bit width's output either way, so a chunk that
    // wraps needs only the 64-bit trial after it.
    const bool bothWidths = predictor.stereoInBothWidths(slot0, slot1, left, right, count);
    afterPass(predictor, atStart, bothWidths, slot0, slot1, left, right, count);
}

void StereoWidthRule::afterPass(Predictor3950& predictor, const Predictor3950& atStart, bool passFits,
                                const std::int32_t* slot0, const std::int32_t* slot1, std::int32_t* left,
                                std::int32_t* right, std::size_t count)
{
    const bool bothWidths = passFits && atStart.fitsIn32Bits();
    reconstructStereo(left, right, count);
    if (outOfRange(left, right, count)) {
        mode = Mode::wide;
        if (bothWidths)
            return;
        predictor = atStart;
        predictor.stereo<PredictorWidth::exact64>(slot0, slot1, left, right, count);
        reconstructStereo(left, right, count);
        return;
    }
    if (bothWidths)
        return;
    Predictor3950 trial = atStart;
    trial.stereo<PredictorWidth::exact64>(slot0, slot1, scratchLeft.data(), scratchRight.data(), count);
    reconstructStereo(scratchLeft.data(), scratchRight.data(), count);
    if (outOfRange(scratchLeft.data(), scratchRight.data(), count))
        mode = Mode::narrow;
}

} // namespace ape
