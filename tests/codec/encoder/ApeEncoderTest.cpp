// The container the encoder writes: what it refuses, and the header, seek
// table and stored WAV parts read back as a decoder reads them.

#include "encoder/ApeEncoder.h"
#include "encoder/EncodeError.h"
#include "SignalGenerator.h"
#include "format/ByteOrder.h"
#include "format/ContainerLayout.h"

#include <gtest/gtest.h>

#include <vector>

namespace ape {
namespace {

constexpr std::uint32_t frameBlocks = 512;

std::vector<std::uint8_t> musicPcm(const PcmFormat& format, std::size_t blocks)
{
    SignalGenerator generator(format.bitsPerSample, format.channels, format.sampleRate, 3);
    return generator.pack(generator.generate(Signal::music, blocks));
}

std::vector<std::uint8_t> loudStereo24()
{
    SignalGenerator generator(24, 2, 48000, 5);
    return generator.pack(generator.generate(Signal::square, 2000));
}

struct NewLayout {
    Descriptor descriptor;
    Header header;
    std::vector<std::uint32_t> seek;
    std::uint32_t firstFrame;
};

NewLayout readNewLayout(const std::vector<std::uint8_t>& file)
{
    NewLayout layout{Descriptor::read(file.data()), Header::read(file.data() + Descriptor::size), {}, 0};
    const std::uint8_t* table = file.data() + Descriptor::size + Header::size;
    for (std::uint32_t i = 0; i < layout.descriptor.seekTableLength / 4; ++i)
        layout.seek.push_back(readLe32(table + 4 * i));
    layout.firstFrame =
        Descriptor::size + Header::size + layout.descriptor.seekTableLength + layout.descriptor.wavHeaderLength;
    return layout;
}

TEST(ApeEncoderRefuses, AFileWithoutAudio)
{
    ApeEncoder encoder(PcmFormat{}, EncoderOptions{});
    EXPECT_THROW(encoder.encode({}), EncodeError);
}

TEST(ApeEncoderRefuses, FormatsAndOptionsTheContainerCannotHold)
{
    const auto refused = [](PcmFormat format, EncoderOptions options) {
        EXPECT_THROW(ApeEncoder(format, options), EncodeError)
            << format.channels << " ch, " << format.bitsPerSample << " bits, rate " << format.sampleRate << ", level "
            << options.level << ", version " << options.version;
    };
    refused(PcmFormat{3, 16, 44100}, {});
    refused(PcmFormat{0, 16, 44100}, {});
    refused(PcmFormat{2, 12, 44100}, {});
    refused(PcmFormat{2, 32, 44100}, {});
    refused(PcmFormat{2, 16, 0}, {});
    refused(PcmFormat{2, 16, 6'144'001}, {});
    refused(PcmFormat{2, 16, 0xFFFFFFFFu}, {});
    for (unsigned level : {0u, 2500u, 6000u}) {
        EncoderOptions options;
        options.level = level;
        refused(PcmFormat{}, options);
    }
    for (unsigned version : {3920u, 3995u}) {
        EncoderOptions options;
        options.version = version;
        refused(PcmFormat{}, options);
    }
    // Versions before 3980 do not store the frame size: only the implied one fits.
    EncoderOptions old;
    old.version = 3950;
    old.blocksPerFrame = 4096;
    refused(PcmFormat{}, old);
}

TEST(ApeEncoderRefuses, PcmThatEndsInsideABlock)
{
    ApeEncoder encoder(PcmFormat{2, 16, 44100}, EncoderOptions{});
    const std::vector<std::uint8_t> pcm(4 * 10 + 2, 0);
    EXPECT_THROW(encoder.encode(pcm), EncodeError);
}

TEST(ApeEncoderLayout, FrameCountFinalFrameAndSeekTableFollowTheLength)
{
    const PcmFormat format{2, 16, 44100};
    for (std::uint64_t blocks : {std::uint64_t{1}, std::uint64_t{frameBlocks - 1}, std::uint64_t{frameBlocks},
                                 std::uint64_t{frameBlocks + 1}, std::uint64_t{3 * frameBlocks + 5}}) {
        for (bool padded : {false, true}) {
            EncoderOptions options;
            options.blocksPerFrame = frameBlocks;
            options.padFrames = padded;
            const std::vector<std::uint8_t> file = ApeEncoder(format, options).encode(musicPcm(format, blocks));
            const NewLayout layout = readNewLayout(file);
            SCOPED_TRACE(std::to_string(blocks) + " blocks, padded " + std::to_string(padded));

            const std::uint64_t frames = (blocks + frameBlocks - 1) / frameBlocks;
            EXPECT_EQ(layout.descriptor.version, 3990);
            EXPECT_EQ(layout.header.blocksPerFrame, frameBlocks);
            EXPECT_EQ(layout.header.totalFrames, frames);
            EXPECT_EQ(layout.header.finalFrameBlocks, blocks - (frames - 1) * frameBlocks);
            EXPECT_EQ(layout.header.channels, 2);
            EXPECT_EQ(layout.header.bitsPerSample, 16);
            EXPECT_EQ(layout.header.sampleRate, 44100u);
            ASSERT_EQ(layout.seek.size(), frames);
            EXPECT_EQ(layout.seek[0], layout.firstFrame);
            for (std::size_t i = 1; i < layout.seek.size(); ++i) {
                EXPECT_GT(layout.seek[i], layout.seek[i - 1] + 8);
                if (padded) {
                    EXPECT_EQ((layout.seek[i] - layout.firstFrame) % 4, 0u);
                }
            }
            // The frame data is whole words and is all that follows.
            EXPECT_EQ(layout.descriptor.audioDataLength % 4, 0u);
            EXPECT_EQ(layout.descriptor.audioDataLengthHigh, 0u);
            EXPECT_EQ(std::uint64_t{layout.firstFrame} + layout.descriptor.audioDataLength, file.size());
            EXPECT_LT(layout.seek.back(), file.size());
        }
    }
}

TEST(ApeEncoderLayout, StoredWavHeaderAndTailKeepTheirBytesAndPlaces)
{
    const PcmFormat format{1, 8, 8000};
    const std::vector<std::uint8_t> pcm = musicPcm(format, 700);
    const std::vector<std::uint8_t> header(60, 0xAB);
    const std::vector<std::uint8_t> tail = {'L', 'I', 'S', 'T', 2, 0, 0, 0, 'x', 'y'};
    const std::vector<std::uint8_t> file = ApeEncoder(format, EncoderOptions{}).encode(pcm, header, tail);
    const NewLayout layout = readNewLayout(file);

    EXPECT_EQ(layout.header.formatFlags, 0);
    ASSERT_EQ(layout.descriptor.wavHeaderLength, header.size());
    ASSERT_EQ(layout.descriptor.wavTailLength, tail.size());
    const auto headerAt = file.begin() + Descriptor::size + Header::size + layout.descriptor.seekTableLength;
    EXPECT_TRUE(std::equal(header.begin(), header.end(), headerAt));
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), file.end() - std::ptrdiff_t(tail.size())));
    EXPECT_EQ(layout.firstFrame + layout.descriptor.audioDataLength + tail.size(), file.size());
}

TEST(ApeEncoderLayout, WithoutAStoredWavHeaderTheFlagAsksTheDecoderToMakeOne)
{
    EncoderOptions options;
    options.storeWavHeader = false;
    const PcmFormat format{2, 24, 96000};
    const NewLayout layout = readNewLayout(ApeEncoder(format, options).encode(musicPcm(format, 100)));
    EXPECT_EQ(layout.descriptor.wavHeaderLength, 0u);
    EXPECT_EQ(layout.header.formatFlags, 32);
}

TEST(ApeEncoderLayout, OldVersionsWriteTheOldHeaderWithTheDepthInTheFlags)
{
    for (unsigned version : {3930u, 3950u}) {
        for (unsigned bits : {8u, 16u, 24u}) {
            const PcmFormat format{1, bits, 22050};
            EncoderOptions options;
            options.version = version;
            options.level = 4000;
            const std::size_t blocks = 1500;
            const std::vector<std::uint8_t> file = ApeEncoder(format, options).encode(musicPcm(format, blocks));
            std::vector<std::uint8_t> padded(file);
            padded.resize(std::max<std::size_t>(file.size(), OldHeader::maximumSize));
            const OldHeader header = OldHeader::read(padded.data());
            SCOPED_TRACE(std::to_string(version) + ", " + std::to_string(bits) + " bits");
            EXPECT_EQ(header.version, version);
            EXPECT_EQ(header.compressionLevel, 4000);
            EXPECT_EQ(header.bitsPerSample(), int(bits));
            EXPECT_EQ(header.channels, 1);
            EXPECT_EQ(header.totalFrames, 1u);
            EXPECT_EQ(header.finalFrameBlocks, blocks);
            EXPECT_EQ(header.headerLength, OldHeader::fixedSize);
            // The stored WAV header comes before the seek table in these versions.
            const std::uint32_t firstFrame = header.headerLength + header.wavHeaderLength + 4 * header.totalFrames;
            EXPECT_EQ(readLe32(file.data() + header.headerLength + header.wavHeaderLength), firstFrame);
            EXPECT_EQ(std::string(file.begin() + header.headerLength, file.begin() + header.headerLength + 4), "RIFF");
        }
    }
}

TEST(ApeEncoderStereoWidth, LoudStereoIsRefusedAtLevel5000WhereKnownDecodersDisagree)
{
    const PcmFormat format{2, 24, 48000};
    EncoderOptions options;
    options.level = 5000;
    ApeEncoder portable(format, options);
    EXPECT_THROW(portable.encode(loudStereo24()), EncodeError);

    options.widthPolicy = WidthPolicy::ffmpeg51;
    ApeEncoder ffmpeg51(format, options);
    EXPECT_NO_THROW(ffmpeg51.encode(loudStereo24()));
    EXPECT_GT(ffmpeg51.widthConflicts(), 0u);
}

TEST(ApeEncoderStereoWidth, LoudStereoBelowLevel5000IsPortableButNotStrict)
{
    const PcmFormat format{2, 24, 48000};
    EncoderOptions options;
    options.level = 2000;
    ApeEncoder portable(format, options);
    EXPECT_NO_THROW(portable.encode(loudStereo24()));
    EXPECT_GT(portable.widthConflicts(), 0u);

    options.widthPolicy = WidthPolicy::strict;
    EXPECT_THROW(ApeEncoder(format, options).encode(loudStereo24()), EncodeError);
}

TEST(ApeEncoderStereoWidth, SixteenBitFullScaleStereoHasNoConflict)
{
    const PcmFormat format{2, 16, 44100};
    for (Signal signal : {Signal::square, Signal::extremes, Signal::white, Signal::inverted}) {
        EncoderOptions options;
        options.level = 5000;
        options.widthPolicy = WidthPolicy::strict;
        SignalGenerator generator(16, 2, 44100, 11);
        ApeEncoder encoder(format, options);
        EXPECT_NO_THROW(encoder.encode(generator.pack(generator.generate(signal, 5000)))) << signalName(signal);
    }
}

} // namespace
} // namespace ape
