#pragma once
// The adaptive range coder, encoding direction. Every operation normalises
// exactly where the decoder does, so the byte count the decoder consumes is
// exactly what finish() has written: a frame needs no slack bytes after it.

#include <cstdint>
#include <vector>

namespace ape {

class RangeEncoder {
public:
    // Appends the frame's logical bytes (most significant byte of each word
    // first) to `out`; the first byte written is the one the decoder skips.
    explicit RangeEncoder(std::vector<std::uint8_t>& out);

    // Mirrors decode_shift(shift) + update(width, start): the interval is the
    // range divided into 2^shift parts.
    void encodeShift(std::uint32_t width, std::uint32_t start, unsigned shift);
    // Mirrors decode_freq(total) + update(width, start).
    void encodeFreq(std::uint32_t width, std::uint32_t start, std::uint32_t total);
    // Writes the final code value; the coder must not be used afterwards.
    void finish();

private:
    void normalise();
    void releaseCache(bool carry);

    std::vector<std::uint8_t>& out;
    std::uint32_t low = 0; // bit 31 is a carry not yet propagated
    std::uint32_t range = 1u << 31;
    std::uint8_t cache = 0;    // byte held back until its carry is known
    std::uint32_t pending = 0; // 0xFF bytes held back behind cache
};

} // namespace ape
