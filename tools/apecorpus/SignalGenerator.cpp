#include "SignalGenerator.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace ape {

namespace {

constexpr double pi = 3.14159265358979323846;

// A four-chord loop (C, A minor, F, G), two seconds per chord: root
// frequencies in Hz, with major or minor thirds.
struct Chord {
    double root; // Hz
    bool minor;
};
constexpr std::array<Chord, 4> progression = {{{130.81, false}, {110.00, true}, {174.61, false}, {196.00, false}}};
constexpr double chordSeconds = 2.0;
constexpr double noteSeconds = 0.25;                              // the arpeggio's pace
constexpr std::array<int, 8> arpeggio = {0, 2, 1, 2, 3, 2, 1, 2}; // chord tone per eighth note

double chordTone(const Chord& chord, int tone)
{
    // Root, third, fifth, octave, in semitones above the root.
    const int semitones[4] = {0, chord.minor ? 3 : 4, 7, 12};
    return chord.root * std::pow(2.0, semitones[tone] / 12.0);
}

} // namespace

std::string_view signalName(Signal signal)
{
    switch (signal) {
    case Signal::silence:
        return "silence";
    case Signal::dc:
        return "dc";
    case Signal::square:
        return "square";
    case Signal::extremes:
        return "extremes";
    case Signal::sine:
        return "sine";
    case Signal::sweep:
        return "sweep";
    case Signal::white:
        return "white";
    case Signal::pink:
        return "pink";
    case Signal::music:
        return "music";
    case Signal::identical:
        return "identical";
    case Signal::inverted:
        return "inverted";
    case Signal::oneSilent:
        return "onesilent";
    }
    return "unknown";
}

SignalGenerator::SignalGenerator(unsigned bitsPerSample, unsigned channels, std::uint32_t sampleRate,
                                 std::uint64_t seed)
    : bits(bitsPerSample), channels(channels), rate(sampleRate), state(seed * 0x9E3779B97F4A7C15ull + 1),
      max((1 << (bitsPerSample - 1)) - 1), min(-(1 << (bitsPerSample - 1)))
{
}

std::uint64_t SignalGenerator::nextRandom()
{
    // xorshift64*: small, fast and the same on every platform.
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 0x2545F4914F6CDD1Dull;
}

double SignalGenerator::uniform()
{
    return double(nextRandom() >> 11) / double(1ull << 52) - 1.0;
}

std::int32_t SignalGenerator::scaled(double value) const
{
    const double v = std::round(value * max);
    return std::int32_t(std::clamp(v, double(min), double(max)));
}

double SignalGenerator::musicSample(std::size_t index, unsigned channel) const
{
    const double t = double(index) / rate;
    const auto chordIndex = std::size_t(t / chordSeconds) % progression.size();
    const Chord& chord = progression[chordIndex];
    const double inChord = std::fmod(t, chordSeconds);

    // A soft pad: the triad with two weak harmonics, faded in and out.
    const double swell = std::min({1.0, inChord / 0.3, (chordSeconds - inChord) / 0.3});
    double pad = 0;
    for (int tone = 0; tone < 3; ++tone) {
        const double f = chordTone(chord, tone);
        const double detune = channel ? 1.002 : 0.998; // a little width
        pad += std::sin(2 * pi * f * detune * t) + 0.3 * std::sin(4 * pi * f * t) + 0.1 * std::sin(6 * pi * f * t);
    }
    pad *= 0.12 * swell;

    // A plucked arpeggio two octaves up, panned a little to the right.
    const auto note = std::size_t(t / noteSeconds);
    const double inNote = std::fmod(t, noteSeconds);
    const double f = 4 * chordTone(chord, arpeggio[note % arpeggio.size()]);
    const double pluck = std::exp(-inNote * 9.0) * (std::sin(2 * pi * f * t) + 0.25 * std::sin(4 * pi * f * t));
    const double pan = channel ? 0.32 : 0.2;
    return pad + pan * pluck;
}

std::vector<std::int32_t> SignalGenerator::generate(Signal signal, std::size_t blocks)
{
    std::vector<std::int32_t> out(blocks * channels);
    double pinkState[3] = {0, 0, 0};
    const double nyquistish = rate * 0.45;
    for (std::size_t i = 0; i < blocks; ++i) {
        const double t = double(i) / rate;
        for (unsigned c = 0; c < channels; ++c) {
            std::int32_t s = 0;
            switch (signal) {
            case Signal::silence:
                break;
            case Signal::dc:
                s = c ? scaled(-1.0 / 3) : scaled(0.5);
                break;
            case Signal::square:
                s = ((i / (c ? 50 : 32)) % 2) ? min : max;
                break;
            case Signal::extremes: {
                const std::int32_t choices[7] = {min, max, min + 1, max - 1, 0, -1, 1};
                s = choices[nextRandom() % 7];
                break;
            }
            case Signal::sine:
                s = scaled(0.89 * std::sin(2 * pi * (c ? 1499.0 : 997.0) * t));
                break;
            case Signal::sweep: {
                // Exponential over one second, repeating.
                const double phaseT = std::fmod(t, 1.0);
                const double k = std::log(nyquistish / 20.0);
                const double phase = 2 * pi * 20.0 * (std::exp(k * phaseT) - 1) / k;
                s = scaled(0.7 * std::sin(phase + (c ? pi / 2 : 0)));
                break;
            }
            case Signal::white:
                s = std::int32_t(std::int64_t(nextRandom() % (std::uint64_t(max) - min + 1)) + min);
                break;
            case Signal::pink:
            case Signal::oneSilent: {
                if (signal == Signal::oneSilent && c == 1)
                    break;
                // Three one-pole filters over white noise: close to -3 dB/octave.
                const double w = uniform();
                pinkState[0] = 0.99765 * pinkState[0] + w * 0.0990460;
                pinkState[1] = 0.96300 * pinkState[1] + w * 0.2965164;
                pinkState[2] = 0.57000 * pinkState[2] + w * 1.0526913;
                s = scaled(0.12 * (pinkState[0] + pinkState[1] + pinkState[2] + w * 0.1848));
                break;
            }
            case Signal::music:
                s = scaled(musicSample(i, c));
                break;
            case Signal::identical:
                s = scaled(musicSample(i, 0));
                break;
            case Signal::inverted:
                s = scaled(musicSample(i, 0)) * (c ? -1 : 1);
                break;
            }
            out[i * channels + c] = s;
        }
    }
    return out;
}

std::vector<std::uint8_t> SignalGenerator::pack(const std::vector<std::int32_t>& samples) const
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(samples.size() * (bits / 8));
    for (std::int32_t s : samples) {
        if (bits == 8) {
            bytes.push_back(std::uint8_t(s + 128));
            continue;
        }
        const auto u = static_cast<std::uint32_t>(s);
        for (unsigned b = 0; b < bits / 8; ++b)
            bytes.push_back(std::uint8_t(u >> (8 * b)));
    }
    return bytes;
}

} // namespace ape
