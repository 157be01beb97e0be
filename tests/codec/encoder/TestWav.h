#pragma once
// Builds WAV files in memory for the encoder's tests.

#include "format/ByteOrder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ape::test {

struct WavChunk {
    std::string id;
    std::vector<std::uint8_t> body;
};

inline std::vector<std::uint8_t> formatChunkBody(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                                                 std::uint16_t bits)
{
    std::vector<std::uint8_t> body;
    ByteWriter w(body);
    const std::uint16_t align = std::uint16_t(channels * (bits / 8));
    w.u16(tag);
    w.u16(channels);
    w.u32(rate);
    w.u32(rate * align);
    w.u16(align);
    w.u16(bits);
    return body;
}

// RIFF/WAVE around the chunks, each padded to an even size as RIFF requires.
inline std::vector<std::uint8_t> riffWave(const std::vector<WavChunk>& chunks)
{
    std::vector<std::uint8_t> file;
    ByteWriter w(file);
    w.bytes("RIFF", 4);
    w.u32(0);
    w.bytes("WAVE", 4);
    for (const WavChunk& chunk : chunks) {
        w.bytes(chunk.id.data(), 4);
        w.u32(std::uint32_t(chunk.body.size()));
        w.bytes(chunk.body.data(), chunk.body.size());
        if (chunk.body.size() % 2)
            w.u8(0);
    }
    writeLe32(file.data() + 4, std::uint32_t(file.size() - 8));
    return file;
}

inline std::vector<std::uint8_t> pcmWav(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                                        const std::vector<std::uint8_t>& samples)
{
    return riffWave({{"fmt ", formatChunkBody(1, channels, rate, bits)}, {"data", samples}});
}

} // namespace ape::test
