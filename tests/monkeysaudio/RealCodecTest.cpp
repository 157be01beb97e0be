// The binding against the real codec library, with files whose decoded
// output is known: one generated here from source PCM of our own, and real
// files from other encoders checked against ffmpeg's decoding of them.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "encoder/ApeEncoder.h"
#include "encoder/ApeTagWriter.h"
#include "format/Md5.h"
#include "monkeysaudio/ApeDecoder.h"
#include "monkeysaudio/ApeTagReader.h"
#include "monkeysaudio/MonkeysAudioError.h"
#include "tests/monkeysaudio/CodecPlacement.h"

namespace {

constexpr std::uint32_t generatedBlocks = 150000; // two whole frames and part of a third
constexpr std::uint32_t blockAlign = 4;           // 16-bit stereo
constexpr std::uint32_t readBlocks = 2000;        // what the source filter asks for at a time

// Interleaved 16-bit stereo: a tone on the left, noise on the right, so that
// neither channel predicts the other.
std::vector<std::uint8_t> makeSourcePcm()
{
    std::vector<std::uint8_t> pcm(generatedBlocks * blockAlign);
    std::uint32_t noise = 12345;
    for (std::uint32_t block = 0; block < generatedBlocks; ++block) {
        noise = noise * 1664525u + 1013904223u;
        const auto left = static_cast<std::int16_t>(9000.0 * std::sin(block * 0.031));
        const auto right = static_cast<std::int16_t>(static_cast<std::int32_t>(noise >> 16) - 32768) / 4;
        const std::int16_t samples[] = {left, static_cast<std::int16_t>(right)};
        std::memcpy(&pcm[block * blockAlign], samples, sizeof samples);
    }
    return pcm;
}

std::string windowsPath(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string realSample(const std::string& name)
{
    return windowsPath(APESRC_REAL_SAMPLES "/" + name);
}

// The real samples live outside the repository and may be missing.
bool haveRealSamples()
{
    const DWORD attributes = GetFileAttributesA(realSample("").c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The md5 of ffmpeg's decoding of a real sample, from the samples' table.
std::string expectedMd5(const std::string& name)
{
    std::ifstream table(realSample("EXPECTED.tsv"));
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream columns(line);
        std::vector<std::string> fields;
        for (std::string field; std::getline(columns, field, '\t');)
            fields.push_back(field);
        if (fields.size() > 13 && fields[0] == name)
            return fields[13];
    }
    return std::string();
}

class RealCodec : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        source = makeSourcePcm();
        ape::ApeEncoder encoder(ape::PcmFormat{}, ape::EncoderOptions{});
        std::vector<std::uint8_t> file = encoder.encode(source);
        ape::ApeTagWriter tag;
        tag.addText("Title", "\xC3\x89tude f\xC3\xBCr Obert\xC3\xB6ne");
        tag.addText("Artist", "The Sine Wave Ensemble");
        tag.addText("Comment", "");
        const std::vector<std::uint8_t> tagBytes = tag.bytes();
        file.insert(file.end(), tagBytes.begin(), tagBytes.end());
        std::ofstream out(generatedFile(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    }

    static void TearDownTestSuite()
    {
        DeleteFileA(generatedFile().c_str());
        source.clear();
    }

    static std::string generatedFile() { return CodecPlacement::programDirectory() + "\\generated-decoder.ape"; }

    RealCodec() : placement(std::string("real-") + testing::UnitTest::GetInstance()->current_test_info()->name())
    {
        placement.placeBesideModule(CodecPlacement::programDirectory() + "\\codec\\MACDllC.dll");
    }

    void SetUp() override { decoder = std::make_unique<ApeDecoder>(); }

    void TearDown() override
    {
        decoder.reset();
        EXPECT_EQ(CodecPlacement::loadedCodecDirectory(), "") << "a reference to the codec library was left";
    }

    // Reads from the current position to the end, as the filter's worker does.
    std::vector<std::uint8_t> readToTheEnd()
    {
        std::vector<std::uint8_t> decoded;
        std::vector<std::uint8_t> buffer(readBlocks * decoder->info(ApeDecoder::blockAlignField));
        while (const std::uint32_t got = decoder->read(buffer.data(), readBlocks)) {
            EXPECT_LE(got, readBlocks);
            decoded.insert(decoded.end(), buffer.begin(), buffer.begin() + got * (buffer.size() / readBlocks));
        }
        return decoded;
    }

    static std::vector<std::uint8_t> source;
    CodecPlacement placement;
    std::unique_ptr<ApeDecoder> decoder;
};

std::vector<std::uint8_t> RealCodec::source;

TEST_F(RealCodec, ReportsTheInformationFieldsOfAGeneratedFile)
{
    decoder->open(generatedFile());
    EXPECT_EQ(decoder->sampleRate(), 44100u);
    EXPECT_EQ(decoder->bitsPerSampleInfo(), 16u);
    EXPECT_EQ(decoder->channelCount(), 2u);
    EXPECT_EQ(decoder->info(ApeDecoder::blockAlignField), static_cast<std::int32_t>(blockAlign));
    EXPECT_EQ(decoder->info(ApeDecoder::currentBlockField), 0);
    EXPECT_EQ(decoder->info(ApeDecoder::totalBlocksField), static_cast<std::int32_t>(generatedBlocks));
}

TEST_F(RealCodec, DecodesTheSourcePcmAndThenReadsNothing)
{
    decoder->open(generatedFile());
    std::uint8_t unused = 0;
    EXPECT_EQ(decoder->read(&unused, 0), 0u);
    const std::vector<std::uint8_t> decoded = readToTheEnd();
    ASSERT_EQ(decoded.size(), source.size());
    EXPECT_TRUE(decoded == source) << "the decoded PCM differs from the source";
    EXPECT_EQ(decoder->info(ApeDecoder::currentBlockField), static_cast<std::int32_t>(generatedBlocks));
    std::vector<std::uint8_t> buffer(readBlocks * blockAlign);
    EXPECT_EQ(decoder->read(buffer.data(), readBlocks), 0u) << "reading at the end is not an error";
}

TEST_F(RealCodec, ContinuesFromTheBlockItSeeksTo)
{
    decoder->open(generatedFile());
    // Inside the second frame, then back to the start, then onto the end.
    for (const std::uint32_t target : {100001u, 0u, 73727u}) {
        decoder->seek(target);
        EXPECT_EQ(decoder->info(ApeDecoder::currentBlockField), static_cast<std::int32_t>(target));
        std::vector<std::uint8_t> buffer(readBlocks * blockAlign);
        ASSERT_EQ(decoder->read(buffer.data(), readBlocks), readBlocks);
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), source.begin() + target * blockAlign))
            << "after a seek to block " << target;
    }
    decoder->seek(generatedBlocks);
    std::vector<std::uint8_t> buffer(readBlocks * blockAlign);
    EXPECT_EQ(decoder->read(buffer.data(), readBlocks), 0u);
}

TEST_F(RealCodec, ReadsTagItemsIncludingUtf8TextAndAnEmptyValue)
{
    decoder->open(generatedFile());
    ApeTagReader reader(*decoder);
    EXPECT_EQ(reader.fieldValue("Title"), L"\u00C9tude f\u00FCr Obert\u00F6ne");
    EXPECT_EQ(reader.fieldValue("Artist"), L"The Sine Wave Ensemble");
    EXPECT_TRUE(reader.fieldExists("Comment"));
    EXPECT_EQ(reader.fieldSize("Comment"), 0u);
    EXPECT_EQ(reader.fieldValue("Comment"), L"");
    EXPECT_FALSE(reader.fieldExists("Composer"));
    EXPECT_THROW(reader.fieldSize("Composer"), MonkeysAudioError);
}

TEST_F(RealCodec, NamesAMissingFileAndKeepsNoFileOpen)
{
    const std::string missing = CodecPlacement::programDirectory() + "\\no-such-file.ape";
    decoder->open(generatedFile());
    try {
        decoder->open(missing);
        FAIL() << "nothing raised";
    } catch (const MonkeysAudioError& e) {
        EXPECT_NE(e.code, 0);
        EXPECT_EQ(e.what(), "Can't open file \"" + missing + "\": " + codecErrorText(e.code));
    }
    EXPECT_FALSE(decoder->isOpen());
    decoder->open(generatedFile());
    EXPECT_TRUE(decoder->isOpen()) << "a failed open must not spoil the next";
}

TEST_F(RealCodec, ReplacesAnOpenFileWithTheNextOne)
{
    if (!haveRealSamples())
        GTEST_SKIP() << "no real samples at " << realSample("");
    decoder->open(generatedFile());
    decoder->seek(5000);
    decoder->open(realSample("atl-musicbee-0.ape"));
    EXPECT_EQ(decoder->channelCount(), 1u);
    EXPECT_EQ(decoder->bitsPerSampleInfo(), 8u);
    EXPECT_EQ(decoder->info(ApeDecoder::currentBlockField), 0);
}

TEST_F(RealCodec, DecodesARealFileAsFfmpegDoesAndReadsItsNonAsciiAlbum)
{
    if (!haveRealSamples())
        GTEST_SKIP() << "no real samples at " << realSample("");
    const std::string md5 = expectedMd5("atl-ape.ape");
    ASSERT_FALSE(md5.empty()) << "no expectation for atl-ape.ape";
    decoder->open(realSample("atl-ape.ape"));
    const std::vector<std::uint8_t> decoded = readToTheEnd();
    ape::Md5 digest;
    digest.update(decoded.data(), decoded.size());
    EXPECT_EQ(ape::Md5::hex(digest.finish()), md5);

    ApeTagReader reader(*decoder);
    EXPECT_EQ(reader.fieldValue("Album"), L"\u7236");
    EXPECT_EQ(reader.fieldValue("Artist"), L"Artist");
}

} // namespace
