#pragma once

#include <cstddef>
#include <cstdint>

// Shrinks 32-bit BGRA pixels by area averaging: each output pixel is the
// mean of the source area it covers, partly covered pixels counted by the
// part they contribute. Colours are weighted by their alpha, so the colour
// of transparent pixels does not bleed into their neighbours. Written here
// rather than asked of the platform's scaler, whose quality differs between
// systems (one picks the nearest pixel whatever mode is asked for).
class AreaScaler {
public:
    // `source` holds sourceHeight rows of sourceWidth pixels, top first,
    // tightly packed; `target` gets targetHeight rows of `targetStride`
    // bytes. The target is no larger than the source on either side.
    static void scale(const std::uint8_t* source, std::uint32_t sourceWidth, std::uint32_t sourceHeight,
                      std::uint8_t* target, std::uint32_t targetWidth, std::uint32_t targetHeight,
                      std::size_t targetStride);
};
