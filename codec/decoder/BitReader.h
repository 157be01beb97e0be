// The bit stream of versions 3800..3899 and its two Rice codes. Bits come
// from the frame's logical byte stream (FrameReader), most significant first;
// a value the stream ends inside of, or one wider than the format allows,
// throws CodecError(APE_ERROR_DECOMPRESSING_FRAME).
#pragma once

#include "apecodec.h"
#include "decoder/FrameReader.h"
#include "format/CodecError.h"

#include <cstddef>
#include <cstdint>

namespace ape {

// Bits of the logical byte stream, most significant first.
class BitReader {
public:
    explicit BitReader(FrameReader& in) : in(in) {}
    void skip(unsigned bits)
    {
        for (unsigned i = 0; i < bits; ++i)
            bit();
    }
    std::uint32_t bit()
    {
        if (left == 0) {
            byte = in.next();
            left = 8;
        }
        --left;
        return (byte >> left) & 1;
    }
    std::uint32_t bits(unsigned count)
    {
        std::uint32_t v = 0;
        for (unsigned i = 0; i < count; ++i)
            v = (v << 1) | bit();
        return v;
    }
    // Zeros before the next one; stops at the end of the data.
    std::uint32_t unary()
    {
        std::uint32_t count = 0;
        while (bit() == 0) {
            if (in.overrun())
                throw CodecError(APE_ERROR_DECOMPRESSING_FRAME, "bit stream ends inside a value");
            ++count;
        }
        return count;
    }
    bool overrun() const { return in.overrun(); }

private:
    FrameReader& in;
    std::uint32_t byte = 0;
    unsigned left = 0;
};

// Versions 3860..3899: a Rice-like code per value with adaptive k; `count`
// signed values into `out`.
void readPerValueRice(BitReader& in, int version, std::int32_t* out, std::size_t count);
// Versions 3800..3859: Rice codes whose k follows a running sum over the frame.
void readWholeFrameRice(BitReader& in, std::int32_t* out, std::size_t count);

} // namespace ape
