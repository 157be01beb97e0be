// Stage-1 prediction of versions 3930..3949: an adaptive order-4 filter per
// predictor channel, the channels independent. In stereo Y takes slot 1 and
// X slot 0 (the reverse of later versions). All arithmetic wraps at 32 bits.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dsp/PredictorArithmetic.h"

namespace ape {

class Predictor3930 {
public:
    void reset();
    void stereo(const std::int32_t* slot0, const std::int32_t* slot1, std::int32_t* y, std::int32_t* x,
                std::size_t count);
    void mono(std::int32_t* values, std::size_t count);

private:
    struct Channel {
        std::uint32_t lastA = 0, filterA = 0;
        std::uint32_t history[4] = {0, 0, 0, 0}; // previous lastA values, newest first
        std::int32_t cA[4] = {predictorStartA[0], predictorStartA[1], predictorStartA[2], predictorStartA[3]};
        std::int32_t step(std::int32_t input);
    };
    Channel yChannel, xChannel;
};

} // namespace ape
