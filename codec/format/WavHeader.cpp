#include "WavHeader.h"

#include "ByteOrder.h"

#include <cstring>

namespace ape {

std::array<uint8_t, wavHeaderSize> canonicalWavHeader(int channels, uint32_t sampleRate, int bitsPerSample,
                                                      uint64_t dataBytes)
{
    constexpr uint64_t maximumData = 0xFFFFFFFFu - 36;
    uint32_t data = uint32_t(dataBytes > maximumData ? maximumData : dataBytes);
    uint16_t blockAlign = uint16_t(channels * (bitsPerSample / 8));
    std::array<uint8_t, wavHeaderSize> h{};
    uint8_t* p = h.data();
    std::memcpy(p, "RIFF", 4);
    writeLe32(p + 4, data + 36);
    std::memcpy(p + 8, "WAVEfmt ", 8);
    writeLe32(p + 16, 16);
    writeLe16(p + 20, 1); // PCM
    writeLe16(p + 22, uint16_t(channels));
    writeLe32(p + 24, sampleRate);
    writeLe32(p + 28, sampleRate * blockAlign);
    writeLe16(p + 32, blockAlign);
    writeLe16(p + 34, uint16_t(bitsPerSample));
    std::memcpy(p + 36, "data", 4);
    writeLe32(p + 40, data);
    return h;
}

} // namespace ape
