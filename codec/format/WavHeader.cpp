#include "format/WavHeader.h"

#include "format/ByteOrder.h"

#include <cstring>

namespace ape {

std::array<std::uint8_t, wavHeaderSize> canonicalWavHeader(int channels, std::uint32_t sampleRate, int bitsPerSample,
                                                           std::uint64_t dataBytes)
{
    constexpr std::uint64_t maximumData = 0xFFFFFFFFu - 36;
    std::uint32_t data = std::uint32_t(dataBytes > maximumData ? maximumData : dataBytes);
    std::uint16_t blockAlign = std::uint16_t(channels * (bitsPerSample / 8));
    std::array<std::uint8_t, wavHeaderSize> h{};
    std::uint8_t* p = h.data();
    std::memcpy(p, "RIFF", 4);
    writeLe32(p + 4, data + 36);
    std::memcpy(p + 8, "WAVEfmt ", 8);
    writeLe32(p + 16, 16);
    writeLe16(p + 20, 1); // PCM
    writeLe16(p + 22, std::uint16_t(channels));
    writeLe32(p + 24, sampleRate);
    writeLe32(p + 28, sampleRate * blockAlign);
    writeLe16(p + 32, blockAlign);
    writeLe16(p + 34, std::uint16_t(bitsPerSample));
    std::memcpy(p + 36, "data", 4);
    writeLe32(p + 40, data);
    return h;
}

} // namespace ape
