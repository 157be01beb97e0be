#include <string>

#include <gtest/gtest.h>

#include "monkeysaudio/ApeDecoder.h"
#include "monkeysaudio/ApeTagReader.h"
#include "monkeysaudio/MonkeysAudioError.h"
#include "tests/monkeysaudio/FakeCodecFixture.h"

// The fake's tag (fakecodec/FakeCodec.cpp) holds: Title "Björk" in UTF-8,
// Artist "Björk" in Latin-1, an empty Comment, Album "ab\0cd", Year U+1F3B5
// in UTF-8, Track and Genre that are not valid UTF-8, and a Copyright whose
// data the codec refuses with 1000.

namespace {

class ApeTagReaderWithFakeCodec : public FakeCodecFixture {
protected:
    void SetUp() override
    {
        FakeCodecFixture::SetUp();
        if (HasFatalFailure())
            return;
        decoder.open("tagged.ape");
    }

    ApeDecoder decoder;
};

TEST_F(ApeTagReaderWithFakeCodec, CountsEveryProbeResultButMissingAsAnExistingField)
{
    ApeTagReader reader(decoder);
    EXPECT_TRUE(reader.fieldExists("Title")) << "too small for the probe's one byte";
    EXPECT_TRUE(reader.fieldExists("Comment")) << "fits the probe";
    EXPECT_TRUE(reader.fieldExists("Copyright")) << "unreadable";
    EXPECT_FALSE(reader.fieldExists("Composer"));
}

TEST_F(ApeTagReaderWithFakeCodec, SizesAFieldAndNamesAMissingOne)
{
    ApeTagReader reader(decoder);
    EXPECT_EQ(reader.fieldSize("Title"), 6u);
    EXPECT_EQ(reader.fieldSize("Comment"), 0u);
    try {
        reader.fieldSize("Composer");
        FAIL() << "nothing raised";
    } catch (const MonkeysAudioError& e) {
        EXPECT_EQ(e.code, -1);
        EXPECT_STREQ(e.what(),
                     "Can't retrieve field size for non existing Monkey's Audio tag field\"Composer\": undefined");
    }
    EXPECT_THROW(reader.fieldValue("Composer"), MonkeysAudioError);
}

TEST_F(ApeTagReaderWithFakeCodec, DecodesUtf8TextAndCutsAtTheFirstNul)
{
    ApeTagReader reader(decoder);
    EXPECT_EQ(reader.fieldValue("Title"), L"Bj\u00F6rk");
    EXPECT_EQ(reader.fieldValue("Year"), L"\xD83C\xDFB5") << "a character beyond 16 bits is a surrogate pair";
    EXPECT_EQ(reader.fieldValue("Album"), L"ab");
    EXPECT_EQ(reader.fieldValue("Comment"), L"");
}

TEST_F(ApeTagReaderWithFakeCodec, KeepsBytesThatAreNotUtf8AsCharactersOfTheSameValue)
{
    ApeTagReader reader(decoder);
    EXPECT_EQ(reader.fieldValue("Artist"), L"Bj\u00F6rk");
    EXPECT_EQ(reader.fieldValue("Track"), L"\u00C0\u00AF") << "an overlong form is not UTF-8";
    EXPECT_EQ(reader.fieldValue("Genre"), L"\u00ED\u00A0\u0080") << "an encoded surrogate is not UTF-8";
}

TEST_F(ApeTagReaderWithFakeCodec, NamesTheFieldAndTheCodecsReasonWhenItsDataCannotBeRead)
{
    ApeTagReader reader(decoder);
    try {
        reader.fieldValue("Copyright");
        FAIL() << "nothing raised";
    } catch (const MonkeysAudioError& e) {
        EXPECT_EQ(e.code, 1000);
        EXPECT_STREQ(e.what(), "Can't retrieve field data for Monkey's Audio tag field\"Copyright\": I/O read error");
    }
}

TEST_F(ApeTagReaderWithFakeCodec, CannotBeMadeWhenTheDecoderHasNoTag)
{
    control->tagError = 1002;
    EXPECT_THROW(ApeTagReader reader(decoder), MonkeysAudioError);
}

} // namespace
