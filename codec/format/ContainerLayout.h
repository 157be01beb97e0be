// The fixed records at the start of a file, field for field as stored, with
// reading and writing. No checking happens here: readers validate the values
// they use (ApeContainer), writers supply valid ones.
#pragma once

#include <array>
#include <cstdint>

namespace ape {

// Versions 3980 and later: at the signature, `descriptorLength` bytes (52).
struct Descriptor {
    static constexpr std::uint32_t size = 52;
    std::uint16_t version = 0;
    std::uint16_t padding = 0;
    std::uint32_t descriptorLength = 0;
    std::uint32_t headerLength = 0;
    std::uint32_t seekTableLength = 0; // bytes, 4 per entry
    std::uint32_t wavHeaderLength = 0;
    std::uint32_t audioDataLength = 0; // low 32 bits
    std::uint32_t audioDataLengthHigh = 0;
    std::uint32_t wavTailLength = 0;
    std::array<std::uint8_t, 16> md5{};

    static Descriptor read(const std::uint8_t* p); // p holds `size` bytes, signature first
    void write(std::uint8_t* p) const;             // writes `size` bytes, signature first
    std::uint64_t audioDataBytes() const { return std::uint64_t(audioDataLengthHigh) << 32 | audioDataLength; }
};

// Versions 3980 and later: after the descriptor.
struct Header {
    static constexpr std::uint32_t size = 24;
    std::uint16_t compressionLevel = 0;
    std::uint16_t formatFlags = 0;
    std::uint32_t blocksPerFrame = 0;
    std::uint32_t finalFrameBlocks = 0;
    std::uint32_t totalFrames = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;

    static Header read(const std::uint8_t* p);
    void write(std::uint8_t* p) const;
};

// Versions below 3980: at the signature, 32 bytes plus the optional fields.
struct OldHeader {
    static constexpr std::uint32_t fixedSize = 32;
    static constexpr std::uint32_t maximumSize = 40;
    std::uint16_t version = 0;
    std::uint16_t compressionLevel = 0;
    std::uint16_t formatFlags = 0;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t wavHeaderLength = 0;
    std::uint32_t wavTailLength = 0;
    std::uint32_t totalFrames = 0;
    std::uint32_t finalFrameBlocks = 0;
    std::uint32_t peakLevel = 0;    // stored only with HAS_PEAK_LEVEL
    std::uint32_t seekElements = 0; // stored only with HAS_SEEK_ELEMENTS; else totalFrames
    std::uint32_t headerLength = 0; // 32, 36 or 40: what read() consumed

    // p holds maximumSize bytes (zero-padded if the file is shorter).
    static OldHeader read(const std::uint8_t* p);
    int bitsPerSample() const;
};

} // namespace ape
