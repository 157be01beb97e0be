#pragma once
// The shape of interleaved PCM as the source's pin offers it: one block is
// one sample for every channel.

#include <string>

#include <windows.h>

namespace apeplay {

struct PcmFormat {
    WORD channels = 0;
    DWORD sampleRate = 0;
    WORD bitsPerSample = 0;

    // Bytes per block; samples are whole bytes.
    DWORD blockAlign() const { return DWORD(channels) * ((bitsPerSample + 7u) / 8u); }
    // "2 channels, 44100 Hz, 16 bits"
    std::string describe() const
    {
        return std::to_string(channels) + (channels == 1 ? " channel, " : " channels, ") + std::to_string(sampleRate) +
               " Hz, " + std::to_string(bitsPerSample) + " bits";
    }
};

} // namespace apeplay
