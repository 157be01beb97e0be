// Files the encoder writes, decoded by the project's own decoder, give back
// the source PCM exactly. (The independent proof is ffmpeg's decoding of the
// corpus; this catches faults close to where they are made.)

#include "encoder/ApeEncoder.h"
#include "decoder/Decompressor.h"
#include "decoder/MemoryByteSource.h"
#include "SignalGenerator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <tuple>
#include <vector>

namespace ape {
namespace {

constexpr std::uint32_t frameBlocks = 1024;

std::vector<std::uint8_t> decodeAll(const std::vector<std::uint8_t>& file, unsigned blockAlign)
{
    std::unique_ptr<Decompressor> decoder =
        Decompressor::open(std::make_unique<MemoryByteSource>(file.data(), file.size()));
    std::vector<std::uint8_t> pcm;
    std::vector<std::uint8_t> chunk(std::size_t{4096} * blockAlign);
    for (;;) {
        std::uint32_t delivered = 0;
        const int rc = decoder->getData(chunk.data(), 4096, &delivered);
        EXPECT_EQ(rc, 0);
        if (rc != 0 || delivered == 0)
            break;
        pcm.insert(pcm.end(), chunk.begin(),
                   chunk.begin() + static_cast<std::ptrdiff_t>(std::size_t{delivered} * blockAlign));
    }
    return pcm;
}

std::vector<std::uint8_t> signalPcm(Signal signal, const PcmFormat& format, std::size_t blocks,
                                    unsigned attenuationBits = 0)
{
    SignalGenerator generator(format.bitsPerSample, format.channels, format.sampleRate, 7);
    std::vector<std::int32_t> samples = generator.generate(signal, blocks);
    for (std::int32_t& s : samples)
        s >>= attenuationBits;
    return generator.pack(samples);
}

// version, level, bits, channels
using Shape = std::tuple<unsigned, unsigned, unsigned, unsigned>;

class EncoderRoundTrip : public ::testing::TestWithParam<Shape> {};

TEST_P(EncoderRoundTrip, DecodesToTheSourcePcmOverSeveralFrames)
{
    const auto [version, level, bits, channels] = GetParam();
    const PcmFormat format{channels, bits, 44100};
    EncoderOptions options;
    options.version = version;
    options.level = level;
    // Older versions imply their frame size; keep those files to one frame
    // plus a little, and the newer ones to several short frames.
    std::size_t blocks = 3 * frameBlocks + 321;
    if (version >= 3980)
        options.blocksPerFrame = frameBlocks;
    else
        blocks = 6000;
    // Noise on one channel keeps the filters busy; music on the other.
    // Loud 24-bit stereo is refused at level 5000 (decoders disagree on it).
    const unsigned attenuation = bits == 24 && channels == 2 ? 5 : 0;
    const std::vector<std::uint8_t> pcm =
        signalPcm(channels == 2 ? Signal::music : Signal::pink, format, blocks, attenuation);

    ApeEncoder encoder(format, options);
    const std::vector<std::uint8_t> file = encoder.encode(pcm);
    EXPECT_EQ(decodeAll(file, format.blockAlign()), pcm);
}

INSTANTIATE_TEST_SUITE_P(CurrentVersion, EncoderRoundTrip,
                         ::testing::Combine(::testing::Values(3990u),
                                            ::testing::Values(1000u, 2000u, 3000u, 4000u, 5000u),
                                            ::testing::Values(8u, 16u, 24u), ::testing::Values(1u, 2u)));
INSTANTIATE_TEST_SUITE_P(OlderVersions, EncoderRoundTrip,
                         ::testing::Combine(::testing::Values(3980u, 3950u, 3930u),
                                            ::testing::Values(1000u, 2000u, 3000u, 4000u, 5000u),
                                            ::testing::Values(16u), ::testing::Values(1u, 2u)));

TEST(EncoderRoundTripFlags, SilentAndLeftEqualsRightFramesAreFlaggedAndStillDecodeExactly)
{
    const PcmFormat format{2, 16, 44100};
    // Frame 0 silent, frame 1 with equal channels, frame 2 ordinary stereo.
    std::vector<std::uint8_t> pcm(std::size_t{frameBlocks} * format.blockAlign(), 0);
    const std::vector<std::uint8_t> same = signalPcm(Signal::identical, format, frameBlocks);
    const std::vector<std::uint8_t> music = signalPcm(Signal::music, format, frameBlocks);
    pcm.insert(pcm.end(), same.begin(), same.end());
    pcm.insert(pcm.end(), music.begin(), music.end());

    EncoderOptions flagged;
    flagged.blocksPerFrame = frameBlocks;
    EncoderOptions plain = flagged;
    plain.useFrameFlags = false;
    const std::vector<std::uint8_t> withFlags = ApeEncoder(format, flagged).encode(pcm);
    const std::vector<std::uint8_t> withoutFlags = ApeEncoder(format, plain).encode(pcm);

    EXPECT_EQ(decodeAll(withFlags, format.blockAlign()), pcm);
    EXPECT_EQ(decodeAll(withoutFlags, format.blockAlign()), pcm);
    // A flagged silent frame codes no values, a pseudo-stereo one a single stream.
    EXPECT_LT(withFlags.size(), withoutFlags.size());
}

TEST(EncoderRoundTripLengths, OneBlockAndLengthsAroundAFrameBoundaryDecodeExactly)
{
    const PcmFormat format{2, 8, 22050};
    for (std::size_t blocks :
         {std::size_t{1}, std::size_t{frameBlocks - 1}, std::size_t{frameBlocks}, std::size_t{frameBlocks + 1}}) {
        for (bool padded : {false, true}) {
            EncoderOptions options;
            options.level = 3000;
            options.blocksPerFrame = frameBlocks;
            options.padFrames = padded;
            const std::vector<std::uint8_t> pcm = signalPcm(Signal::white, format, blocks);
            EXPECT_EQ(decodeAll(ApeEncoder(format, options).encode(pcm), format.blockAlign()), pcm)
                << blocks << " blocks, padded " << padded;
        }
    }
}

TEST(EncoderRoundTripExtremes, FullScaleSquaresAndExtremeValuesOfEveryDepthDecodeExactly)
{
    for (unsigned bits : {8u, 16u, 24u}) {
        for (Signal signal : {Signal::square, Signal::extremes}) {
            // Mono: its predictor has one width, so even 24-bit full scale is portable.
            const PcmFormat format{1, bits, 48000};
            EncoderOptions options;
            options.level = 5000;
            options.blocksPerFrame = frameBlocks;
            const std::vector<std::uint8_t> pcm = signalPcm(signal, format, 2 * frameBlocks + 3);
            EXPECT_EQ(decodeAll(ApeEncoder(format, options).encode(pcm), format.blockAlign()), pcm)
                << signalName(signal) << " at " << bits << " bits";
        }
    }
}

} // namespace
} // namespace ape
