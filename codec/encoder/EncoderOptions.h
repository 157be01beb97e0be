#pragma once
// What an encoding run is asked to produce. Defaults give a current-format
// file as the reference encoder would lay it out.

#include <cstdint>

namespace ape {

// The source PCM: interleaved little-endian samples, 8-bit ones unsigned as
// a WAV file holds them.
struct PcmFormat {
    unsigned channels = 2;          // 1 or 2
    unsigned bitsPerSample = 16;    // 8, 16 or 24
    std::uint32_t sampleRate = 44100;

    unsigned blockAlign() const { return channels * (bitsPerSample / 8); }
};

// Decoders disagree about the arithmetic width of the stereo predictor (see
// Predictor3950Encoder). `portable` refuses input where the choice matters;
// `ffmpeg51` writes such input as FFmpeg 5.1 decodes it (32-bit below level
// 5000, 64-bit at 5000), which other decoders may not reproduce.
enum class WidthPolicy { portable, ffmpeg51 };

struct EncoderOptions {
    unsigned version = 3990;        // 3930..3990
    unsigned level = 2000;          // 1000..5000 in steps of 1000
    std::uint32_t blocksPerFrame = 0;  // 0: the usual size for version and level
    bool useFrameFlags = true;      // mark silent and left=right frames
    bool padFrames = false;         // start every frame on a 4-byte boundary
    bool storeWavHeader = true;     // else the decoder synthesises one
    WidthPolicy widthPolicy = WidthPolicy::portable;
};

}  // namespace ape
