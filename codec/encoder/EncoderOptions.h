#pragma once
// What an encoding run is asked to produce. Defaults give a current-format
// file laid out as common files are.

#include <cstdint>

namespace ape {

// The source PCM: interleaved little-endian samples, 8-bit ones unsigned as
// a WAV file holds them.
struct PcmFormat {
    unsigned channels = 2;       // 1 or 2
    unsigned bitsPerSample = 16; // 8, 16 or 24
    std::uint32_t sampleRate = 44100;

    unsigned blockAlign() const { return channels * (bitsPerSample / 8); }
};

// Decoders disagree about the arithmetic width of the stereo predictor when
// loud (mostly 24-bit) stereo makes its sums leave 32 bits (see
// Predictor3950Encoder). Two rules are known: FFmpeg 5.1 uses 32 bits below
// level 5000 and 64 bits at 5000; newer decoders start in 32 bits and switch
// to 64 only when 32 bits reconstruct a sample outside the depth, which never
// happens for a file encoded in 32 bits.
enum class WidthPolicy {
    strict,   // refuse any stereo step where the widths differ
    portable, // 32 bits below level 5000 (both known rules agree); at 5000 as strict
    ffmpeg51, // always FFmpeg 5.1's rule; at level 5000 other decoders may differ
};

struct EncoderOptions {
    unsigned version = 3990;          // 3930..3990
    unsigned level = 2000;            // 1000..5000 in steps of 1000
    std::uint32_t blocksPerFrame = 0; // 0: the usual size for version and level
    bool useFrameFlags = true;        // mark silent and left=right frames
    bool padFrames = false;           // start every frame on a 4-byte boundary
    bool storeWavHeader = true;       // else the decoder synthesises one
    WidthPolicy widthPolicy = WidthPolicy::portable;
};

} // namespace ape
