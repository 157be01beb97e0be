#pragma once
// Deterministic test signals at a given sample depth: the same request
// always gives the same samples (no global state, a fixed-seed generator).
// Samples are signed and within the depth's range; 8-bit samples are
// offset to unsigned bytes only when packed as PCM.

#include <cstdint>
#include <string_view>
#include <vector>

namespace ape {

enum class Signal {
    silence,
    dc,
    square,   // full scale, the two extreme values only
    extremes, // random picks among the depth's extreme and near-zero values
    sine,
    sweep, // exponential, 20 Hz up to just below half the rate
    white, // uniform over the whole range
    pink,
    music,     // chords with harmonics and plucked notes
    identical, // music, both channels equal
    inverted,  // music, right = -left
    oneSilent, // pink on the left, silence on the right
};

std::string_view signalName(Signal signal);

class SignalGenerator {
public:
    SignalGenerator(unsigned bitsPerSample, unsigned channels, std::uint32_t sampleRate, std::uint64_t seed);

    // Interleaved samples of `blocks` blocks.
    std::vector<std::int32_t> generate(Signal signal, std::size_t blocks);
    // Packs samples as a WAV file holds them (little-endian, 8-bit unsigned).
    std::vector<std::uint8_t> pack(const std::vector<std::int32_t>& samples) const;

private:
    std::uint64_t nextRandom();
    double uniform();                        // [-1, 1)
    std::int32_t scaled(double value) const; // [-1, 1] to the depth, clamped
    double musicSample(std::size_t index, unsigned channel) const;

    unsigned bits;
    unsigned channels;
    std::uint32_t rate;
    std::uint64_t state;
    std::int32_t max;
    std::int32_t min;
};

} // namespace ape
