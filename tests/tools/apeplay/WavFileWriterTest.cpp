#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <windows.h>

#include "PlayerError.h"
#include "WavFileWriter.h"

namespace {

using apeplay::PcmFormat;
using apeplay::WavFileWriter;
using Bytes = std::vector<std::uint8_t>;

bool exists(const std::wstring& name)
{
    return GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

Bytes readAll(const std::wstring& name)
{
    std::ifstream in(name.c_str(), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t le32(const Bytes& b, std::size_t at)
{
    return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | std::uint32_t(b.at(at + 3)) << 24;
}

std::uint16_t le16(const Bytes& b, std::size_t at)
{
    return std::uint16_t(b.at(at) | b.at(at + 1) << 8);
}

std::string tag(const Bytes& b, std::size_t at)
{
    return std::string(b.begin() + std::ptrdiff_t(at), b.begin() + std::ptrdiff_t(at) + 4);
}

class WavFileWriterTest : public testing::Test {
protected:
    void SetUp() override
    {
        const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
        target = std::wstring(name.begin(), name.end()) + L".wav";
        DeleteFileW(target.c_str());
        DeleteFileW((target + L".partial").c_str());
    }
    void TearDown() override
    {
        DeleteFileW(target.c_str());
        EXPECT_FALSE(exists(target + L".partial"));
    }

    std::wstring target;
};

TEST_F(WavFileWriterTest, StereoSixteenBitGetsThePlainHeaderAndItsSizesOnCommit)
{
    const Bytes pcm{1, 2, 3, 4, 5, 6, 7, 8};
    {
        WavFileWriter writer(target, PcmFormat{2, 44100, 16});
        EXPECT_TRUE(exists(writer.partialName()));
        EXPECT_FALSE(exists(target));
        writer.append(pcm.data(), 4);
        writer.append(pcm.data() + 4, 4);
        EXPECT_EQ(writer.dataBytes(), 8u);
        writer.commit();
    }
    const Bytes file = readAll(target);
    ASSERT_EQ(file.size(), 44u + 8u);
    EXPECT_EQ(tag(file, 0), "RIFF");
    EXPECT_EQ(le32(file, 4), 36u + 8u);
    EXPECT_EQ(tag(file, 8), "WAVE");
    EXPECT_EQ(tag(file, 12), "fmt ");
    EXPECT_EQ(le32(file, 16), 16u);
    EXPECT_EQ(le16(file, 20), 1u);      // PCM
    EXPECT_EQ(le16(file, 22), 2u);      // channels
    EXPECT_EQ(le32(file, 24), 44100u);  // rate
    EXPECT_EQ(le32(file, 28), 176400u); // bytes per second
    EXPECT_EQ(le16(file, 32), 4u);      // block align
    EXPECT_EQ(le16(file, 34), 16u);     // bits
    EXPECT_EQ(tag(file, 36), "data");
    EXPECT_EQ(le32(file, 40), 8u);
    EXPECT_EQ(Bytes(file.begin() + 44, file.end()), pcm);
}

TEST_F(WavFileWriterTest, WideSamplesAndManyChannelsGetTheExtensibleHeader)
{
    for (const PcmFormat format : {PcmFormat{2, 48000, 24}, PcmFormat{6, 44100, 16}}) {
        const Bytes pcm(std::size_t(format.blockAlign()) * 3, 0x5A);
        {
            WavFileWriter writer(target, format);
            writer.append(pcm.data(), pcm.size());
            writer.commit();
        }
        const Bytes file = readAll(target);
        ASSERT_EQ(file.size(), 68u + pcm.size());
        EXPECT_EQ(le32(file, 4), 60u + pcm.size());
        EXPECT_EQ(le32(file, 16), 40u);
        EXPECT_EQ(le16(file, 20), 0xFFFEu);
        EXPECT_EQ(le16(file, 22), format.channels);
        EXPECT_EQ(le32(file, 28), format.sampleRate * format.blockAlign());
        EXPECT_EQ(le16(file, 32), format.blockAlign());
        EXPECT_EQ(le16(file, 34), format.bitsPerSample);
        EXPECT_EQ(le16(file, 36), 22u);                                 // extension size
        EXPECT_EQ(le16(file, 38), format.bitsPerSample);                // valid bits
        EXPECT_EQ(le32(file, 40), format.channels == 2 ? 0x3u : 0x3Fu); // speakers
        EXPECT_EQ(le32(file, 44), 1u);                                  // KSDATAFORMAT_SUBTYPE_PCM
        EXPECT_EQ(le32(file, 52), 0xAA000080u);
        EXPECT_EQ(tag(file, 60), "data");
        EXPECT_EQ(le32(file, 64), pcm.size());
    }
}

TEST_F(WavFileWriterTest, OddDataIsPaddedAfterTheChunkAndCountedInRiffOnly)
{
    const Bytes pcm{0x80, 0x81, 0x82};
    {
        WavFileWriter writer(target, PcmFormat{1, 8000, 8});
        writer.append(pcm.data(), pcm.size());
        writer.commit();
    }
    const Bytes file = readAll(target);
    ASSERT_EQ(file.size(), 44u + 4u);
    EXPECT_EQ(le32(file, 4), 36u + 4u);
    EXPECT_EQ(le32(file, 40), 3u);
    EXPECT_EQ(file.back(), 0u);
}

TEST_F(WavFileWriterTest, AnUncommittedWriterLeavesNoFileAndTheOldTargetUntouched)
{
    {
        WavFileWriter writer(target, PcmFormat{2, 44100, 16});
        writer.append("abcd", 4);
    }
    EXPECT_FALSE(exists(target));

    {
        std::ofstream(target.c_str(), std::ios::binary) << "old";
    }
    {
        WavFileWriter writer(target, PcmFormat{2, 44100, 16});
        writer.append("abcd", 4);
    }
    EXPECT_EQ(readAll(target), (Bytes{'o', 'l', 'd'}));

    // Committing replaces it.
    {
        WavFileWriter writer(target, PcmFormat{2, 44100, 16});
        writer.commit();
    }
    EXPECT_EQ(readAll(target).size(), 44u);
}

TEST_F(WavFileWriterTest, RefusesWhatItCannotWrite)
{
    EXPECT_THROW(WavFileWriter(L"no such folder\\x.wav", PcmFormat{2, 44100, 16}), std::runtime_error);
    EXPECT_THROW(WavFileWriter(target, PcmFormat{0, 44100, 16}), apeplay::PlayerError);
    // Beyond what 32-bit RIFF sizes describe: refused before anything is written.
    WavFileWriter writer(target, PcmFormat{2, 44100, 16});
    const char byte = 0;
    EXPECT_THROW(writer.append(&byte, std::size_t(0xFFFFFFFFu)), apeplay::PlayerError);
    EXPECT_EQ(writer.dataBytes(), 0u);
}

} // namespace
