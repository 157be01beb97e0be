// The WAV files apeenc accepts, and the reasons it gives for the others.

#include "encoder/EncodeError.h"
#include "TestWav.h"
#include "WavReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ape {
namespace {

using test::formatChunkBody;
using test::pcmWav;
using test::riffWave;

std::string refusal(const std::vector<std::uint8_t>& file)
{
    try {
        WavReader reader(file);
    } catch (const EncodeError& e) {
        return e.what();
    }
    return {};
}

TEST(WavReader, ReadsACanonicalPcmFile)
{
    const std::vector<std::uint8_t> samples = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const std::vector<std::uint8_t> file = pcmWav(2, 44100, 16, samples);
    const WavReader reader(file);
    EXPECT_EQ(reader.format().channels, 2u);
    EXPECT_EQ(reader.format().bitsPerSample, 16u);
    EXPECT_EQ(reader.format().sampleRate, 44100u);
    EXPECT_EQ(reader.header().size(), 44u);
    EXPECT_EQ(std::vector<std::uint8_t>(reader.samples().begin(), reader.samples().end()), samples);
    EXPECT_TRUE(reader.tail().empty());
}

TEST(WavReader, ReadsExtensibleFormatAndKeepsOtherChunksAsHeaderAndTail)
{
    std::vector<std::uint8_t> extensible = formatChunkBody(0xFFFE, 1, 96000, 24);
    const std::vector<std::uint8_t> extension = {22, 0, 24,   0, 4,    0, 0, 0,    1, 0,    0,    0,
                                                 0,  0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    extensible.insert(extensible.end(), extension.begin(), extension.end());
    const std::vector<std::uint8_t> samples = {1, 2, 3, 4, 5, 6};
    const std::vector<std::uint8_t> file =
        riffWave({{"fmt ", extensible}, {"LIST", {'a', 'b', 'c'}}, {"data", samples}, {"junk", {9, 9}}});
    const WavReader reader(file);
    EXPECT_EQ(reader.format().bitsPerSample, 24u);
    EXPECT_EQ(reader.format().sampleRate, 96000u);
    EXPECT_EQ(std::vector<std::uint8_t>(reader.samples().begin(), reader.samples().end()), samples);
    // The odd-sized LIST chunk's pad byte is skipped, so the data is found.
    EXPECT_EQ(reader.header().size(), 12u + 8 + 40 + 8 + 4 + 8);
    EXPECT_EQ(reader.tail().size(), 10u);
}

TEST(WavReader, RefusesFilesThatAreNotPcmWav)
{
    EXPECT_NE(refusal({'h', 'e', 'l', 'l', 'o'}), "");
    std::vector<std::uint8_t> notWave = pcmWav(1, 8000, 8, {1, 2});
    notWave[8] = 'A';
    EXPECT_NE(refusal(notWave).find("not a WAV"), std::string::npos);
    EXPECT_NE(refusal(riffWave({{"fmt ", formatChunkBody(3, 2, 44100, 32)}, {"data", std::vector<std::uint8_t>(8)}}))
                  .find("floating point"),
              std::string::npos);
    EXPECT_NE(refusal(riffWave({{"fmt ", formatChunkBody(2, 2, 44100, 4)}, {"data", std::vector<std::uint8_t>(8)}})),
              "");
}

TEST(WavReader, RefusesDepthsAndChannelCountsTheFormatCannotHold)
{
    EXPECT_NE(refusal(pcmWav(3, 44100, 16, std::vector<std::uint8_t>(12))).find("channel"), std::string::npos);
    EXPECT_NE(refusal(pcmWav(0, 44100, 16, std::vector<std::uint8_t>(12))).find("channel"), std::string::npos);
    EXPECT_NE(refusal(pcmWav(2, 44100, 32, std::vector<std::uint8_t>(16))).find("depth"), std::string::npos);
    EXPECT_NE(refusal(pcmWav(2, 44100, 12, std::vector<std::uint8_t>(12))).find("depth"), std::string::npos);
    EXPECT_NE(refusal(pcmWav(2, 0, 16, std::vector<std::uint8_t>(12))), "");
}

TEST(WavReader, RefusesTruncatedFiles)
{
    const std::vector<std::uint8_t> whole = pcmWav(2, 44100, 16, std::vector<std::uint8_t>(400, 7));
    for (std::size_t keep :
         {std::size_t{10}, std::size_t{20}, std::size_t{30}, std::size_t{40}, whole.size() - 1, whole.size() - 100}) {
        const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + std::ptrdiff_t(keep));
        EXPECT_NE(refusal(cut), "") << "cut to " << keep << " bytes";
    }
    // A data chunk that ends inside a block.
    EXPECT_NE(refusal(pcmWav(2, 44100, 16, std::vector<std::uint8_t>(6))), "");
}

TEST(WavReader, RefusesInconsistentFormatChunks)
{
    std::vector<std::uint8_t> fmt = formatChunkBody(1, 2, 44100, 16);
    fmt[12] = 3; // block alignment no longer channels x bytes
    EXPECT_NE(refusal(riffWave({{"fmt ", fmt}, {"data", std::vector<std::uint8_t>(12)}})), "");
    EXPECT_NE(refusal(riffWave({{"data", std::vector<std::uint8_t>(12)}, {"fmt ", formatChunkBody(1, 2, 44100, 16)}})),
              "");
    EXPECT_NE(refusal(riffWave({{"fmt ", std::vector<std::uint8_t>(10)}, {"data", std::vector<std::uint8_t>(12)}})),
              "");
}

TEST(WavReader, EveryRefusalIsOneLine)
{
    const std::vector<std::vector<std::uint8_t>> bad = {
        {'x'}, pcmWav(3, 44100, 16, std::vector<std::uint8_t>(12)), pcmWav(2, 44100, 16, std::vector<std::uint8_t>(6))};
    for (const auto& file : bad) {
        const std::string reason = refusal(file);
        EXPECT_FALSE(reason.empty());
        EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
    }
}

} // namespace
} // namespace ape
