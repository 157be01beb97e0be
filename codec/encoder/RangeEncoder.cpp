#include "encoder/RangeEncoder.h"

#include "format/RangeTables.h"

namespace ape {

namespace {
constexpr std::uint32_t carryFreeLimit = 0xFFu << 23; // top byte below 0xFF
} // namespace

RangeEncoder::RangeEncoder(std::vector<std::uint8_t>& out) : out(out)
{
}

void RangeEncoder::releaseCache(bool carry)
{
    // A carry turns the held 0xFF run into zeros and bumps the byte before it.
    out.push_back(static_cast<std::uint8_t>(cache + (carry ? 1 : 0)));
    out.insert(out.end(), pending, carry ? 0x00 : 0xFF);
    pending = 0;
}

void RangeEncoder::normalise()
{
    while (range <= rangeBottom) {
        if (low < carryFreeLimit) {
            releaseCache(false);
            cache = static_cast<std::uint8_t>(low >> 23);
        } else if (low >= rangeTop) {
            releaseCache(true);
            cache = static_cast<std::uint8_t>((low >> 23) & 0xFF);
        } else {
            ++pending;
        }
        range <<= 8;
        low = (low << 8) & (rangeTop - 1);
    }
}

void RangeEncoder::encodeShift(std::uint32_t width, std::uint32_t start, unsigned shift)
{
    normalise();
    const std::uint32_t unit = range >> shift;
    low += unit * start;
    range = unit * width;
}

void RangeEncoder::encodeFreq(std::uint32_t width, std::uint32_t start, std::uint32_t total)
{
    normalise();
    const std::uint32_t unit = range / total;
    low += unit * start;
    range = unit * width;
}

void RangeEncoder::finish()
{
    releaseCache(low >= rangeTop);
    // The decoder's low register lags the stream by one bit, hence the odd
    // shifts: these four bytes make it read back exactly low.
    out.push_back(static_cast<std::uint8_t>((low >> 23) & 0xFF));
    out.push_back(static_cast<std::uint8_t>((low >> 15) & 0xFF));
    out.push_back(static_cast<std::uint8_t>((low >> 7) & 0xFF));
    out.push_back(static_cast<std::uint8_t>((low << 1) & 0xFF));
}

} // namespace ape
