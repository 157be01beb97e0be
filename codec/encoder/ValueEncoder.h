#pragma once
// Codes one stream of residuals: the overflow symbol against a fixed
// frequency table, then the remainder, with an adaptation state that both
// directions update identically after every value. Streams are independent
// (a stereo frame has two), and all of them share one RangeEncoder.

#include <cstdint>

namespace ape {

class RangeEncoder;

class ValueEncoder {
public:
    // `version` selects the value model once: pivot-based with the 3980
    // table from 3990 on, k-based with the 3970 table before.
    explicit ValueEncoder(unsigned version);

    // The frame start state.
    void reset();
    void encode(RangeEncoder& coder, std::int32_t residual);

private:
    using EncodeFn = void (ValueEncoder::*)(RangeEncoder&, std::uint32_t);

    void encodePivot(RangeEncoder& coder, std::uint32_t x);
    void encodeK(RangeEncoder& coder, std::uint32_t x);
    void adapt(std::uint32_t x);

    EncodeFn encodeFn;
    bool splitWideValues; // versions >= 3910 code more than 16 raw bits in two parts
    std::uint32_t k = 0;
    std::uint32_t ksum = 0;
};

} // namespace ape
