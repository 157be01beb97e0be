#include "decoder/StereoWidthRule.h"

namespace ape {
namespace {

constexpr std::uint32_t largest24 = 1u << 23; // largest magnitude a 24-bit chunk may reconstruct

// reconstructStereo, answering whether every sample lies within ±largest24.
// One pass and no early exit, so the loop is vectorised: an unsigned
// comparison of v + largest24 with 2 * largest24 tests both bounds at once.
bool reconstructStereoWithin24(std::int32_t* left, std::int32_t* right, std::size_t count)
{
    std::uint32_t beyond = 0;
    for (std::size_t i = 0; i < count; ++i) {
        std::int32_t y = left[i], x = right[i];
        std::uint32_t l = std::uint32_t(x) - std::uint32_t(y / 2);
        std::uint32_t r = l + std::uint32_t(y);
        left[i] = std::int32_t(l);
        right[i] = std::int32_t(r);
        beyond |= std::uint32_t(l + largest24 > 2 * largest24) | std::uint32_t(r + largest24 > 2 * largest24);
    }
    return beyond == 0;
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
    if (!reconstructStereoWithin24(left, right, count)) {
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
    if (!reconstructStereoWithin24(scratchLeft.data(), scratchRight.data(), count))
        mode = Mode::narrow;
}

} // namespace ape
