#pragma once
// One stage-2 ("NN") filter of one channel slot, run in the encoder
// direction: given the value the decoder's filter must output, produce the
// input it must be given. The state evolves exactly as in the decoder, since
// both see the same output and the same input.

#include <cstdint>
#include <vector>

namespace ape {

class NnFilterEncoder {
public:
    // `order` taps (a multiple of 16), `fractionBits` of coefficient
    // precision, and the adaptation rule of files from version 3980 on
    // (`newAdaptation`) or of the older ones.
    NnFilterEncoder(unsigned order, unsigned fractionBits, bool newAdaptation);

    void reset();
    std::int32_t encode(std::int32_t output);

private:
    std::int16_t adaptationFor(std::int32_t output);
    void pushHistory(std::int16_t clipped, std::int16_t adaptation);

    unsigned order_;
    unsigned fractionBits_;
    bool newAdaptation_;
    std::uint32_t average_ = 0;          // running mean magnitude of the outputs
    std::vector<std::int16_t> coef_;
    // Sliding windows over long buffers, so that a step shifts no memory:
    // the current window is [start_, start_ + order_), oldest first.
    std::vector<std::int16_t> history_;
    std::vector<std::int16_t> adapt_;
    std::size_t start_ = 0;
};

}  // namespace ape
