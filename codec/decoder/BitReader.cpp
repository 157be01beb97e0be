#include "decoder/BitReader.h"

#include "decoder/ValueDecoder.h"
#include "format/FormatConstants.h"

#include <algorithm>

namespace ape {
namespace {

[[noreturn]] void corrupt(const char* what)
{
    throw CodecError(APE_ERROR_DECOMPRESSING_FRAME, what);
}

std::uint32_t bitLength(std::uint32_t v)
{
    std::uint32_t n = 0;
    for (; v; v >>= 1)
        ++n;
    return n;
}

} // namespace

void readPerValueRice(BitReader& in, int version, std::int32_t* out, std::size_t count)
{
    StreamState s;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t overflow = in.unary();
        if (version >= version::riceEscape) {
            while (overflow >= 16) {
                overflow -= 16;
                s.k += 4;
                if (s.k > 25)
                    corrupt("value width out of range");
            }
        }
        std::uint32_t x;
        if (s.k == 0)
            x = overflow;
        else if (s.k <= 25)
            x = (overflow << s.k) + in.bits(s.k);
        else
            corrupt("value width out of range");
        s.kSum = s.kSum + x - ((s.kSum + 8) >> 4);
        if (s.kSum < (s.k ? 1u << (s.k + 4) : 0u))
            --s.k;
        else if (s.kSum >= (1u << (s.k + 5)) && s.k < 24)
            ++s.k;
        out[i] = foldedToSigned(x);
    }
}

void readWholeFrameRice(BitReader& in, std::int32_t* out, std::size_t count)
{
    auto rice = [&](std::uint32_t k) { return (in.unary() << k) | (k ? in.bits(k) : 0); };
    std::uint32_t kSum = 0;
    std::size_t i = 0;
    for (; i < std::min<std::size_t>(count, 5); ++i) {
        out[i] = std::int32_t(rice(10));
        kSum += std::uint32_t(out[i]);
    }
    if (count > 5) {
        std::uint32_t k = bitLength(kSum / 10);
        if (k >= 24)
            corrupt("value width out of range");
        for (; i < std::min<std::size_t>(count, 64); ++i) {
            out[i] = std::int32_t(rice(k));
            kSum += std::uint32_t(out[i]);
            k = bitLength(kSum / std::uint32_t((i + 1) * 2));
            if (k >= 24)
                corrupt("value width out of range");
        }
    }
    if (count > 64) {
        std::uint32_t k = bitLength(kSum >> 7);
        if (k > 24)
            corrupt("value width out of range");
        std::uint64_t kSumMax = std::uint64_t(1) << (k + 7);
        std::uint64_t kSumMin = k ? std::uint64_t(1) << (k + 6) : 0;
        for (; i < count; ++i) {
            out[i] = std::int32_t(rice(k));
            kSum = kSum + std::uint32_t(out[i]) - std::uint32_t(out[i - 64]);
            while (kSum < kSumMin) {
                --k;
                kSumMin = k ? kSumMin >> 1 : 0;
                kSumMax >>= 1;
            }
            while (kSum >= kSumMax) {
                if (++k > 24)
                    corrupt("value width out of range");
                kSumMax <<= 1;
                kSumMin = kSumMin ? kSumMin << 1 : 128;
            }
        }
    }
    for (std::size_t j = 0; j < count; ++j)
        out[j] = foldedToSigned(std::uint32_t(out[j]));
}

} // namespace ape
