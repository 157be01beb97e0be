#include "StereoWidthRule.h"

#include <algorithm>

namespace ape {
namespace {

constexpr int32_t largest24 = 1 << 23; // largest magnitude a 24-bit chunk may reconstruct

bool outOfRange(const int32_t* left, const int32_t* right, size_t count)
{
    auto beyond = [](int32_t v) { return v > largest24 || v < -largest24; };
    return std::any_of(left, left + count, beyond) || std::any_of(right, right + count, beyond);
}

} // namespace

void reconstructStereo(int32_t* left, int32_t* right, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        int32_t y = left[i], x = right[i];
        uint32_t l = uint32_t(x) - uint32_t(y / 2);
        left[i] = int32_t(l);
        right[i] = int32_t(l + uint32_t(y));
    }
}

StereoWidthRule::StereoWidthRule(int bitsPerSample, size_t chunkBlocks)
    : mode_(bitsPerSample == 24 ? Mode::undecided : Mode::narrow)
{
    if (mode_ == Mode::undecided) {
        scratchLeft_.resize(chunkBlocks);
        scratchRight_.resize(chunkBlocks);
    }
}

void StereoWidthRule::run(Predictor3950& predictor, const int32_t* slot0, const int32_t* slot1, int32_t* left,
                          int32_t* right, size_t count)
{
    if (mode_ == Mode::narrow) {
        predictor.stereo<PredictorWidth::wrap32>(slot0, slot1, left, right, count);
        reconstructStereo(left, right, count);
        return;
    }
    if (mode_ == Mode::wide) {
        predictor.stereo<PredictorWidth::exact64>(slot0, slot1, left, right, count);
        reconstructStereo(left, right, count);
        return;
    }
    const Predictor3950 atStart = predictor;
    // Usually no value leaves 32 bits: then one pass stands for both widths,
    // and the 64-bit trial would only repeat what the 32-bit one found. The
    // pass yields the 32-bit width's output either way, so a chunk that
    // wraps needs only the 64-bit trial after it.
    const bool bothWidths = predictor.stereoInBothWidths(slot0, slot1, left, right, count) && atStart.fitsIn32Bits();
    reconstructStereo(left, right, count);
    if (outOfRange(left, right, count)) {
        mode_ = Mode::wide;
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
    trial.stereo<PredictorWidth::exact64>(slot0, slot1, scratchLeft_.data(), scratchRight_.data(), count);
    reconstructStereo(scratchLeft_.data(), scratchRight_.data(), count);
    if (outOfRange(scratchLeft_.data(), scratchRight_.data(), count))
        mode_ = Mode::narrow;
}

} // namespace ape
