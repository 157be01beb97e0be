#pragma once
// Turns a whole PCM stream into a complete .ape file: container
// header(s), seek table, stored WAV header, the frames and the WAV tail. Tags
// are appended by the caller (ApeTagWriter). Versions 3930 to 3990 are
// written with the algorithms and layout of their version.
//
// Everything happens in memory: this is test and demo tooling, and a file
// must be complete before it is written anywhere.

#include "encoder/EncoderOptions.h"
#include "encoder/FrameEncoder.h"

#include <cstdint>
#include <span>
#include <vector>

namespace ape {

class ApeEncoder {
public:
    // Throws EncodeError for a format or options the file cannot hold.
    ApeEncoder(const PcmFormat& format, const EncoderOptions& options);

    // `pcm` holds whole blocks, at least one. `wavHeader` is stored as the
    // original file's header; when empty and the options ask for a stored
    // header, the canonical 44-byte one is stored. `wavTail` is stored after
    // the frames as it is.
    std::vector<std::uint8_t> encode(std::span<const std::uint8_t> pcm, std::span<const std::uint8_t> wavHeader = {},
                                     std::span<const std::uint8_t> wavTail = {});

    std::uint32_t blocksPerFrame() const { return blocksInFrame; }
    std::uint64_t widthConflicts() const { return frameEncoder.widthConflicts(); }

private:
    bool conflictsAllowed() const;
    std::vector<std::uint8_t> encodeFrames(std::span<const std::uint8_t> pcm, std::vector<std::uint32_t>& offsets);

    PcmFormat format;
    EncoderOptions options;
    std::uint32_t blocksInFrame;
    FrameEncoder frameEncoder;
};

} // namespace ape
