#include "RangeEncoder.h"

#include "format/RangeTables.h"

namespace ape {

namespace {
constexpr std::uint32_t kTop = rangeTop;
constexpr std::uint32_t kBottom = rangeBottom;
constexpr std::uint32_t kCarryFreeLimit = 0xFFu << 23;  // top byte below 0xFF
}  // namespace

RangeEncoder::RangeEncoder(std::vector<std::uint8_t>& out) : out_(out) {}

void RangeEncoder::releaseCache(bool carry)
{
    // A carry turns the held 0xFF run into zeros and bumps the byte before it.
    out_.push_back(static_cast<std::uint8_t>(cache_ + (carry ? 1 : 0)));
    out_.insert(out_.end(), pending_, carry ? 0x00 : 0xFF);
    pending_ = 0;
}

void RangeEncoder::normalise()
{
    while (range_ <= kBottom) {
        if (low_ < kCarryFreeLimit) {
            releaseCache(false);
            cache_ = static_cast<std::uint8_t>(low_ >> 23);
        } else if (low_ >= kTop) {
            releaseCache(true);
            cache_ = static_cast<std::uint8_t>((low_ >> 23) & 0xFF);
        } else {
            ++pending_;
        }
        range_ <<= 8;
        low_ = (low_ << 8) & (kTop - 1);
    }
}

void RangeEncoder::encodeShift(std::uint32_t width, std::uint32_t start, unsigned shift)
{
    normalise();
    const std::uint32_t unit = range_ >> shift;
    low_ += unit * start;
    range_ = unit * width;
}

void RangeEncoder::encodeFreq(std::uint32_t width, std::uint32_t start, std::uint32_t total)
{
    normalise();
    const std::uint32_t unit = range_ / total;
    low_ += unit * start;
    range_ = unit * width;
}

void RangeEncoder::finish()
{
    releaseCache(low_ >= kTop);
    // The decoder's low register lags the stream by one bit, hence the odd
    // shifts: these four bytes make it read back exactly low_.
    out_.push_back(static_cast<std::uint8_t>((low_ >> 23) & 0xFF));
    out_.push_back(static_cast<std::uint8_t>((low_ >> 15) & 0xFF));
    out_.push_back(static_cast<std::uint8_t>((low_ >> 7) & 0xFF));
    out_.push_back(static_cast<std::uint8_t>((low_ << 1) & 0xFF));
}

}  // namespace ape
