#include "BenchMaterial.h"

#include "decoder/Decompressor.h"
#include "decoder/FileByteSource.h"
#include "SignalGenerator.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string_view>

namespace ape {
namespace {

constexpr std::uint64_t seed = 15;

std::size_t blocksFor(double seconds, std::uint32_t rate)
{
    return std::max<std::size_t>(1, std::size_t(seconds * rate));
}

BenchMaterial generated(std::string name, PcmFormat format, double seconds,
                        std::vector<std::int32_t> (*shape)(SignalGenerator&, std::size_t blocks, const PcmFormat&))
{
    SignalGenerator generator(format.bitsPerSample, format.channels, format.sampleRate, seed);
    auto samples = shape(generator, blocksFor(seconds, format.sampleRate), format);
    return {std::move(name), format, generator.pack(samples)};
}

std::vector<std::int32_t> plain(SignalGenerator& g, std::size_t blocks, Signal signal)
{
    return g.generate(signal, blocks);
}

// Music with pink noise under it: no two periods alike, as in a full mix.
std::vector<std::int32_t> denseMix(SignalGenerator& g, std::size_t blocks, const PcmFormat&)
{
    auto music = g.generate(Signal::music, blocks);
    auto noise = g.generate(Signal::pink, blocks);
    for (std::size_t i = 0; i < music.size(); ++i)
        music[i] = music[i] / 4 * 3 + noise[i] / 4;
    return music;
}

// Music in bursts: 1.5 s of sound, then 1 s of digital silence and 0.5 s of
// a fade at a hundredth of the level, the way a sparse recording breathes.
std::vector<std::int32_t> sparseMix(SignalGenerator& g, std::size_t blocks, const PcmFormat& format)
{
    auto music = g.generate(Signal::music, blocks);
    const std::size_t period = std::size_t(3 * format.sampleRate);
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::size_t phase = b % period;
        const int divisor = phase < period / 2 ? 1 : phase < period * 5 / 6 ? 0 : 100;
        for (unsigned c = 0; c < format.channels; ++c) {
            std::int32_t& s = music[b * format.channels + c];
            s = divisor ? s / divisor : 0;
        }
    }
    return music;
}

// Runs a command and returns what it wrote to its standard output; empty
// when it failed.
std::vector<std::uint8_t> commandOutput(const std::string& command)
{
    std::vector<std::uint8_t> out;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    std::uint8_t buffer[1 << 16];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.insert(out.end(), buffer, buffer + got);
    if (pclose(pipe) != 0)
        out.clear();
    return out;
}

// FNV-1a: enough to tell two recordings apart.
std::uint64_t fingerprint(const std::vector<std::uint8_t>& bytes)
{
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (std::uint8_t b : bytes)
        h = (h ^ b) * 0x100000001b3ull;
    return h;
}

std::vector<std::uint8_t> repeated(const std::vector<std::uint8_t>& pcm, std::size_t bytes)
{
    std::vector<std::uint8_t> out;
    out.reserve(bytes);
    while (out.size() < bytes)
        out.insert(out.end(), pcm.begin(), pcm.begin() + std::ptrdiff_t(std::min(pcm.size(), bytes - out.size())));
    return out;
}

} // namespace

std::vector<BenchMaterial> syntheticMaterials(double seconds)
{
    auto music = [](SignalGenerator& g, std::size_t blocks, const PcmFormat&) {
        return plain(g, blocks, Signal::music);
    };
    auto white = [](SignalGenerator& g, std::size_t blocks, const PcmFormat&) {
        return plain(g, blocks, Signal::white);
    };
    auto pink = [](SignalGenerator& g, std::size_t blocks, const PcmFormat&) { return plain(g, blocks, Signal::pink); };
    std::vector<BenchMaterial> out;
    out.push_back(generated("music16", {2, 16, 44100}, seconds, music));
    out.push_back(generated("dense16", {2, 16, 44100}, seconds, denseMix));
    out.push_back(generated("sparse16", {2, 16, 44100}, seconds, sparseMix));
    out.push_back(generated("white16", {2, 16, 44100}, seconds, white));
    out.push_back(generated("pink16", {2, 16, 44100}, seconds, pink));
    out.push_back(generated("music24-48k", {2, 24, 48000}, seconds, music));
    out.push_back(generated("dense24-96k", {2, 24, 96000}, seconds, denseMix));
    out.push_back(generated("music8", {2, 8, 44100}, seconds, music));
    out.push_back(generated("mono16", {1, 16, 44100}, seconds, denseMix));
    return out;
}

std::vector<BenchMaterial> realMaterials(const std::string& directory, double seconds)
{
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error))
        if (entry.path().extension() == ".ape")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::vector<BenchMaterial> out;
    std::set<std::uint64_t> seen;
    for (const auto& file : files) {
        PcmFormat format;
        std::uint64_t totalBlocks = 0;
        try {
            auto d = Decompressor::open(std::make_unique<FileByteSource>(file.string()));
            const auto& c = d->container();
            format = {unsigned(c.channels), unsigned(c.bitsPerSample), c.sampleRate};
            totalBlocks = c.totalBlocks;
        } catch (const std::exception&) {
            continue;
        }
        const char* sampleFormat = format.bitsPerSample == 8 ? "u8" : format.bitsPerSample == 16 ? "s16le" : "s24le";
        auto pcm =
            commandOutput("ffmpeg -nostdin -v error -i '" + file.string() + "' -f " + sampleFormat + " - 2>/dev/null");
        // A cut-short file decodes to fewer blocks than its header promises;
        // a file without audio decodes to silence.
        const bool silent = std::all_of(pcm.begin(), pcm.end(),
                                        [&](std::uint8_t b) { return b == (format.bitsPerSample == 8 ? 128 : 0); });
        if (pcm.empty() || pcm.size() != totalBlocks * format.blockAlign() || silent ||
            !seen.insert(fingerprint(pcm)).second)
            continue;
        const std::size_t bytes = blocksFor(seconds, format.sampleRate) * format.blockAlign();
        out.push_back({file.stem().string(), format, repeated(pcm, bytes)});
    }
    return out;
}

} // namespace ape
