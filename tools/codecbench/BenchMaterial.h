// The material of the decode-speed table: synthetic signals of every kind a
// library holds (dense and sparse music, white and pink noise, 24-bit at 48
// and 96 kHz, 8-bit, mono) and real recordings, each repeated to the same
// duration. Real recordings are decoded by ffmpeg, so their PCM does not
// depend on the decoder under test.
#pragma once

#include "encoder/EncoderOptions.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ape {

struct BenchMaterial {
    std::string name; // short, one word: a row label and part of a file name
    PcmFormat format;
    std::vector<std::uint8_t> pcm; // interleaved as a WAV file holds it, whole blocks
};

// Synthetic material, `seconds` long each.
std::vector<BenchMaterial> syntheticMaterials(double seconds);

// Every .ape file in `directory` that ffmpeg decodes without an error, as PCM
// repeated to `seconds` (files holding the same audio appear once). Files
// ffmpeg or our container reader refuse are left out.
std::vector<BenchMaterial> realMaterials(const std::string& directory, double seconds);

} // namespace ape
