// The canonical 44-byte RIFF/WAVE header of interleaved PCM.
#pragma once

#include <array>
#include <cstdint>

namespace ape {

constexpr std::uint32_t wavHeaderSize = 44;

// dataBytes is clamped to what a RIFF size field can hold.
std::array<std::uint8_t, wavHeaderSize> canonicalWavHeader(int channels, std::uint32_t sampleRate, int bitsPerSample,
                                                           std::uint64_t dataBytes);

} // namespace ape
