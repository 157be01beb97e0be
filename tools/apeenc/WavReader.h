#pragma once
// Reads a PCM WAV file held in memory: the format, the sample data and the
// bytes around them (which the encoder stores verbatim as the original
// file's header and tail). Anything else, or a file cut short, is refused.

#include "encoder/EncoderOptions.h"

#include <cstdint>
#include <span>

namespace ape {

class WavReader {
public:
    // Throws EncodeError with a one-line reason. The reader refers to
    // `file`, which must outlive it.
    explicit WavReader(std::span<const std::uint8_t> file);

    const PcmFormat& format() const { return pcmFormat; }
    std::span<const std::uint8_t> header() const { return file.first(dataOffset); }
    std::span<const std::uint8_t> samples() const { return file.subspan(dataOffset, dataBytes); }
    std::span<const std::uint8_t> tail() const { return file.subspan(dataOffset + dataBytes); }

private:
    void readFormatChunk(std::span<const std::uint8_t> chunk);

    std::span<const std::uint8_t> file;
    PcmFormat pcmFormat;
    std::size_t dataOffset = 0;
    std::size_t dataBytes = 0;
};

} // namespace ape
