#pragma once
// Reads a PCM WAV file held in memory: the format, the sample data and the
// bytes around them (which the encoder stores verbatim as the original
// file's header and tail). Anything else, or a file cut short, is refused.

#include "EncoderOptions.h"

#include <cstdint>
#include <span>

namespace ape {

class WavReader {
public:
    // Throws EncodeError with a one-line reason. The reader refers to
    // `file`, which must outlive it.
    explicit WavReader(std::span<const std::uint8_t> file);

    const PcmFormat& format() const { return format_; }
    std::span<const std::uint8_t> header() const { return file_.first(dataOffset_); }
    std::span<const std::uint8_t> samples() const { return file_.subspan(dataOffset_, dataBytes_); }
    std::span<const std::uint8_t> tail() const { return file_.subspan(dataOffset_ + dataBytes_); }

private:
    void readFormatChunk(std::span<const std::uint8_t> chunk);

    std::span<const std::uint8_t> file_;
    PcmFormat format_;
    std::size_t dataOffset_ = 0;
    std::size_t dataBytes_ = 0;
};

}  // namespace ape
