#include "encoder/ValueEncoder.h"

#include "encoder/EncodeError.h"
#include "encoder/RangeEncoder.h"
#include "format/FormatConstants.h"
#include "format/RangeTables.h"

#include <bit>

namespace ape {

namespace {

constexpr unsigned symbolShift = 16; // symbols are coded against a total of 2^16
constexpr std::uint32_t maxK = 24;

void encodeSymbol(RangeEncoder& coder, const SymbolTable& table, std::uint32_t symbol)
{
    if (symbol < directSymbols)
        coder.encodeShift(table.width(int(symbol)), table.cum[symbol], symbolShift);
    else
        coder.encodeShift(1, wideSymbolBase + symbol, symbolShift);
}

} // namespace

ValueEncoder::ValueEncoder(unsigned version)
    : encodeFn(version >= unsigned(version::pivotValues) ? &ValueEncoder::encodePivot : &ValueEncoder::encodeK),
      splitWideValues(version >= unsigned(version::splitWideValues))
{
    reset();
}

void ValueEncoder::reset()
{
    k = initialK;
    ksum = initialKSum;
}

void ValueEncoder::encode(RangeEncoder& coder, std::int32_t residual)
{
    if (residual == INT32_MIN)
        throw EncodeError("residual -2^31 cannot be coded");
    // 0, 1, -1, 2, -2 ... become 0, 1, 2, 3, 4 ...
    const std::uint32_t magnitude = static_cast<std::uint32_t>(residual);
    const std::uint32_t x = residual > 0 ? 2 * magnitude - 1 : 0u - 2 * magnitude;
    (this->*encodeFn)(coder, x);
    adapt(x);
}

void ValueEncoder::encodePivot(RangeEncoder& coder, std::uint32_t x)
{
    const std::uint32_t pivot = (ksum >> 5) ? (ksum >> 5) : 1;
    const std::uint32_t overflow = x / pivot;
    const std::uint32_t base = x % pivot;
    const SymbolTable& table = symbolTable3980;

    if (overflow < escapeSymbol) {
        encodeSymbol(coder, table, overflow);
    } else {
        encodeSymbol(coder, table, escapeSymbol);
        coder.encodeShift(1, overflow >> 16, 16);
        coder.encodeShift(1, overflow & 0xFFFF, 16);
    }

    if (pivot < 65536) {
        coder.encodeFreq(1, base, pivot);
    } else {
        // The base no longer fits one 16-bit division: code its top part
        // against the shortened pivot, then the low bbits bits plainly.
        unsigned bbits = 0;
        while ((pivot >> bbits) >= 65536)
            ++bbits;
        coder.encodeFreq(1, base >> bbits, (pivot >> bbits) + 1);
        coder.encodeFreq(1, base & ((1u << bbits) - 1), 1u << bbits);
    }
}

void ValueEncoder::encodeK(RangeEncoder& coder, std::uint32_t x)
{
    const SymbolTable& table = symbolTable3970;
    unsigned rawBits = k < 1 ? 0 : k - 1;
    std::uint32_t overflow = x >> rawBits;
    if (overflow >= escapeSymbol) {
        // The escape carries its own bit count and no overflow.
        rawBits = unsigned(std::bit_width(x));
        if (rawBits > 31)
            throw EncodeError("residual too large for the k-based value coder");
        encodeSymbol(coder, table, escapeSymbol);
        coder.encodeShift(1, rawBits, 5);
        overflow = 0;
    } else {
        encodeSymbol(coder, table, overflow);
    }
    const std::uint32_t low = rawBits ? x & (0xFFFFFFFFu >> (32 - rawBits)) : 0;
    if (rawBits <= 16 || !splitWideValues) {
        coder.encodeShift(1, low, rawBits);
    } else {
        coder.encodeShift(1, low & 0xFFFF, 16);
        coder.encodeShift(1, low >> 16, rawBits - 16);
    }
}

void ValueEncoder::adapt(std::uint32_t x)
{
    const std::uint32_t lowerLimit = k ? 1u << (k + 4) : 0;
    ksum += (x + 1) / 2 - ((ksum + 16) >> 5);
    if (ksum < lowerLimit)
        --k;
    else if (ksum >= (1u << (k + 5)) && k < maxK)
        ++k;
}

} // namespace ape
