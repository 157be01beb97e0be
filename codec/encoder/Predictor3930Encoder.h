#pragma once
// Stage 1 of versions 3930 to 3949, run backwards. The two channels do not
// interact, and in stereo Y feeds slot 1 while X feeds slot 0 (the reverse
// of later versions). All arithmetic wraps at 32 bits, as in the decoder.

#include <cstdint>

namespace ape {

class Predictor3930Encoder {
public:
    Predictor3930Encoder();

    void reset();
    void encodeStereo(std::int32_t y, std::int32_t x, std::int32_t& slot0, std::int32_t& slot1);
    std::int32_t encodeMono(std::int32_t sample);

    // Both widths are the same here; present so frame code is width-agnostic.
    std::uint64_t widthConflicts() const { return 0; }

private:
    struct Channel {
        std::int32_t lastA;
        std::int32_t filterA;
        std::int32_t history[4]; // previous lastA values, newest first
        std::int32_t coef[4];
    };

    static std::int32_t step(Channel& ch, std::int32_t target);

    Channel yChannel{};
    Channel xChannel{};
};

} // namespace ape
