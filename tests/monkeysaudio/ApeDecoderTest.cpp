#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <boost/numeric/conversion/cast.hpp>
#include <gtest/gtest.h>

#include "monkeysaudio/ApeDecoder.h"
#include "monkeysaudio/MonkeysAudioError.h"
#include "tests/monkeysaudio/FakeCodecFixture.h"

namespace {

using ApeDecoderWithFakeCodec = FakeCodecFixture;

TEST_F(ApeDecoderWithFakeCodec, NamesTheFileAndTheCodecsReasonWhenOpeningFails)
{
    ApeDecoder decoder;
    control->createError = 1002;
    try {
        decoder.open("C:\\Music\\gone.ape");
        FAIL() << "nothing raised";
    } catch (const MonkeysAudioError& e) {
        EXPECT_EQ(e.code, 1002);
        EXPECT_STREQ(e.what(), "Can't open file \"C:\\Music\\gone.ape\": invalid input file");
    }
    EXPECT_FALSE(decoder.isOpen());
}

TEST_F(ApeDecoderWithFakeCodec, ClosesTheOpenFileBeforeOpeningTheNextAndKeepsNoneWhenThatFails)
{
    {
        ApeDecoder decoder;
        decoder.open("first.ape");
        decoder.open("second.ape");
        EXPECT_TRUE(decoder.isOpen());
        EXPECT_EQ(control->openFiles, 1);
        EXPECT_STREQ(control->events, "create first.ape;destroy first.ape;create second.ape;");

        control->createError = 1000;
        EXPECT_THROW(decoder.open("third.ape"), MonkeysAudioError);
        EXPECT_FALSE(decoder.isOpen());
        EXPECT_EQ(control->openFiles, 0);
        control->createError = 0;
        decoder.open("fourth.ape");
    }
    EXPECT_EQ(control->openFiles, 0) << "destruction must close the open file";
}

TEST_F(ApeDecoderWithFakeCodec, AnswersTheInformationFieldsOfTheOpenFile)
{
    ApeDecoder decoder;
    decoder.open("file.ape");
    EXPECT_EQ(decoder.sampleRate(), static_cast<std::uint32_t>(fakeSampleRate));
    EXPECT_EQ(decoder.bitsPerSampleInfo(), 16u);
    EXPECT_EQ(decoder.channelCount(), 2u);
    EXPECT_EQ(decoder.info(ApeDecoder::blockAlignField), fakeBlockAlign);
    EXPECT_EQ(decoder.info(ApeDecoder::totalBlocksField), fakeTotalBlocks);
    decoder.seek(1234);
    EXPECT_EQ(decoder.info(ApeDecoder::currentBlockField), 1234);
}

TEST_F(ApeDecoderWithFakeCodec, RaisesARangeErrorForANegativeFieldButPassesItThroughInfo)
{
    ApeDecoder decoder;
    decoder.open("file.ape");
    control->sampleRate = -1;
    EXPECT_EQ(decoder.info(ApeDecoder::sampleRateField), -1);
    try {
        decoder.sampleRate();
        FAIL() << "nothing raised";
    } catch (const boost::bad_numeric_cast& e) {
        EXPECT_STREQ(e.what(), "bad numeric cast: loss of range in numeric_cast");
    }
}

TEST_F(ApeDecoderWithFakeCodec, ReadsWholeBlocksUntilTheEndAndThenNothing)
{
    ApeDecoder decoder;
    decoder.open("file.ape");
    std::vector<char> buffer(2000 * fakeBlockAlign);

    EXPECT_EQ(decoder.read(buffer.data(), 0), 0u);
    EXPECT_EQ(control->getDataCalls, 0) << "a read of 0 blocks must not reach the codec";

    decoder.seek(fakeTotalBlocks - 10);
    EXPECT_EQ(decoder.read(buffer.data(), 2000), 10u);
    EXPECT_EQ(buffer[0], static_cast<char>((fakeTotalBlocks - 10) * fakeBlockAlign));
    EXPECT_EQ(decoder.read(buffer.data(), 2000), 0u);
    EXPECT_EQ(decoder.read(buffer.data(), 2000), 0u);
}

TEST_F(ApeDecoderWithFakeCodec, NamesTheBlockCountWhenReadingFailsAndStaysOpen)
{
    ApeDecoder decoder;
    decoder.open("file.ape");
    std::vector<char> buffer(2000 * fakeBlockAlign);
    control->getDataResult = 1010;
    try {
        decoder.read(buffer.data(), 2000);
        FAIL() << "nothing raised";
    } catch (const MonkeysAudioError& e) {
        EXPECT_EQ(e.code, 1010);
        EXPECT_STREQ(e.what(), "Can't read 2000 blocks from Monkey's Audio file: decompressing frame");
    }
    EXPECT_TRUE(decoder.isOpen());
    control->getDataResult = 0;
    EXPECT_EQ(decoder.read(buffer.data(), 2000), 2000u);
}

TEST_F(ApeDecoderWithFakeCodec, RaisesARangeErrorForANegativeDeliveredCount)
{
    ApeDecoder decoder;
    decoder.open("file.ape");
    std::vector<char> buffer(fakeBlockAlign);
    control->negativeDelivered = true;
    try {
        decoder.read(buffer.data(), 1);
        FAIL() << "nothing raised";
    } catch (const boost::bad_numeric_cast& e) {
        EXPECT_STREQ(e.what(), "bad numeric cast: loss of range in numeric_cast");
    }
}

TEST_F(ApeDecoderWithFakeCodec, ShowsTheSeekTargetAsAnUnsignedNumberWhenSeekingFails)
{
    ApeDecoder decoder;
    decoder.open("file.ape");
    constexpr std::uint32_t lastBlockNumber = std::numeric_limits<std::uint32_t>::max();
    try {
        decoder.seek(lastBlockNumber);
        FAIL() << "nothing raised";
    } catch (const MonkeysAudioError& e) {
        EXPECT_EQ(e.code, 5000);
        EXPECT_STREQ(e.what(), "Can't seek to block position 4294967295 in Monkey's Audio file: bad parameter");
    }
    EXPECT_EQ(control->lastSeekBlock, lastBlockNumber) << "the block number must reach the codec unchanged";
    EXPECT_TRUE(decoder.isOpen());
}

TEST_F(ApeDecoderWithFakeCodec, JudgesTheTagByTheErrorCodeAlone)
{
    ApeDecoder decoder;
    decoder.open("file.ape");
    EXPECT_NE(decoder.tag(), nullptr);
    control->tagError = 1000;
    try {
        decoder.tag();
        FAIL() << "nothing raised";
    } catch (const MonkeysAudioError& e) {
        EXPECT_EQ(e.code, 1000);
        EXPECT_STREQ(e.what(), "Can't retrieve monkeys audio tag: I/O read error");
    }
    EXPECT_TRUE(decoder.isOpen());
}

// A codec that leaves its error codes unwritten and claims more blocks than
// it was asked for.
class ApeDecoderWithContractBreakingCodec : public FakeCodecFixture {
protected:
    ApeDecoderWithContractBreakingCodec() : FakeCodecFixture("breaking") {}
};

TEST_F(ApeDecoderWithContractBreakingCodec, ReportsUnwrittenCodesAsUndefinedAndRefusesExcessBlocks)
{
    ApeDecoder decoder;
    control->createError = 1002;
    try {
        decoder.open("file.ape");
        FAIL() << "nothing raised";
    } catch (const MonkeysAudioError& e) {
        EXPECT_EQ(e.code, -1);
        EXPECT_STREQ(e.what(), "Can't open file \"file.ape\": undefined");
    }
    EXPECT_FALSE(decoder.isOpen());

    control->createError = 0;
    decoder.open("file.ape");
    EXPECT_THROW(decoder.tag(), MonkeysAudioError) << "only a stored 0 is success";

    // One block of room past the request, so that an excess count cannot
    // corrupt the test's own memory before it is refused.
    std::vector<char> buffer(11 * fakeBlockAlign);
    try {
        decoder.read(buffer.data(), 10);
        FAIL() << "nothing raised";
    } catch (const MonkeysAudioError& e) {
        EXPECT_EQ(e.code, -1);
        EXPECT_STREQ(e.what(), "Can't read 10 blocks from Monkey's Audio file: codec delivered 11: undefined");
    }
    EXPECT_TRUE(decoder.isOpen());
}

} // namespace
