#pragma once
// Stage 1 of files from version 3950 on, run backwards: from the block's
// target values to the residuals the decoder's predictor turns back into
// them. In stereo the two channels look at each other: Y sees X's previous
// output, X sees Y's current one.
//
// Decoders disagree about the arithmetic width of the stereo sums. Every
// stereo step computes the residual both ways and counts the steps where
// they differ (width conflicts); the residual actually coded is the one of
// the width chosen at construction. A file with no conflict decodes the same
// under every rule.

#include <cstdint>

namespace ape {

enum class StereoWidth { Bits32, Bits64 };

class Predictor3950Encoder {
public:
    explicit Predictor3950Encoder(StereoWidth width);

    void reset();
    // Residuals for slot 0 (from Y) and slot 1 (from X).
    void encodeStereo(std::int32_t y, std::int32_t x, std::int32_t& slot0, std::int32_t& slot1);
    std::int32_t encodeMono(std::int32_t sample);

    std::uint64_t widthConflicts() const { return conflictCount; }

private:
    // Kept in 64 bits: the sums can leave the 32-bit range for loud 24-bit
    // material, and both widths are derived from the exact values.
    struct Channel {
        std::int64_t lastA;
        std::int64_t filterA; // the previous target value of this channel
        std::int64_t filterB;
        std::int64_t rA[4];
        std::int64_t rB[5];
        std::int32_t cA[4];
        std::int32_t cB[5];
    };

    std::int32_t stereoStep(Channel& ch, std::int32_t target, std::int64_t other);

    StereoWidth width;
    std::uint64_t conflictCount = 0;
    Channel yChannel{};
    Channel xChannel{};
};

} // namespace ape
