#include <string>

#include <gtest/gtest.h>

#include "monkeysaudio/ApeDecoder.h"
#include "monkeysaudio/ApeTagReader.h"
#include "monkeysaudio/MonkeysAudioError.h"
#include "support/WindowsError.h"
#include "tests/monkeysaudio/CodecPlacement.h"

namespace {

bool sameDirectory(const std::string& a, const std::string& b)
{
    return _stricmp(a.c_str(), b.c_str()) == 0;
}

// The plain binding, without the decoder's entry points.
class BoundCodec : public CodecLibrary {
public:
    BoundCodec() { load(); }
};

// Each test places its copies in a scratch folder of its own and checks that
// no reference to the library outlives the objects that took one.
class CodecLibraryLocation : public testing::Test {
protected:
    CodecLibraryLocation()
        : placement(std::string("binding-") + testing::UnitTest::GetInstance()->current_test_info()->name())
    {
    }

    void TearDown() override
    {
        EXPECT_EQ(CodecPlacement::loadedCodecDirectory(), "") << "a reference to the codec library was left";
    }

    CodecPlacement placement;
};

TEST_F(CodecLibraryLocation, LoadsTheCopyBesideTheModuleEvenWithAnotherOnTheSearchPath)
{
    placement.placeBesideModule(CodecPlacement::fakeCodec("sound"));
    placement.placeOnSearchPath(CodecPlacement::fakeCodec("sound"));
    BoundCodec codec;
    EXPECT_PRED2(sameDirectory, CodecPlacement::loadedCodecDirectory(), placement.moduleDirectory());
}

TEST_F(CodecLibraryLocation, FallsBackToTheSearchPathWithNoCopyBesideTheModule)
{
    placement.placeOnSearchPath(CodecPlacement::fakeCodec("sound"));
    BoundCodec codec;
    EXPECT_PRED2(sameDirectory, CodecPlacement::loadedCodecDirectory(), placement.searchDirectory());
}

TEST_F(CodecLibraryLocation, NamesTheLibraryWhenNoCopyIsFound)
{
    try {
        BoundCodec codec;
        FAIL() << "nothing raised";
    } catch (const oryx::WindowsError& e) {
        EXPECT_EQ(e.code, static_cast<std::uint32_t>(ERROR_MOD_NOT_FOUND));
        EXPECT_EQ(std::string(e.what()).rfind("Can't load library \"MACDllC.dll\": ", 0), 0u) << e.what();
    }
}

TEST_F(CodecLibraryLocation, RefusesALibraryServingAnotherInterfaceVersion)
{
    placement.placeBesideModule(CodecPlacement::fakeCodec("mismatch"));
    try {
        BoundCodec codec;
        FAIL() << "nothing raised";
    } catch (const MonkeysAudioError& e) {
        EXPECT_EQ(e.code, 1000);
        EXPECT_STREQ(e.what(), "Interface version mismatch: I/O read error");
    }
}

TEST_F(CodecLibraryLocation, RefusesALibraryWithoutGetVersionNumberThoughItIsNeverCalled)
{
    placement.placeBesideModule(CodecPlacement::fakeCodec("noversion"));
    try {
        BoundCodec codec;
        FAIL() << "nothing raised";
    } catch (const oryx::WindowsError& e) {
        EXPECT_EQ(e.code, static_cast<std::uint32_t>(ERROR_PROC_NOT_FOUND));
        EXPECT_EQ(std::string(e.what()).rfind("Can't get proc address for \"GetVersionNumber\"", 0), 0u) << e.what();
    }
}

TEST_F(CodecLibraryLocation, RefusesADecoderWhenADecompressorEntryPointIsMissing)
{
    placement.placeBesideModule(CodecPlacement::fakeCodec("noseek"));
    try {
        ApeDecoder decoder;
        FAIL() << "nothing raised";
    } catch (const oryx::WindowsError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Can't get proc address for \"c_APEDecompress_Seek\"", 0), 0u)
            << e.what();
    }
}

TEST_F(CodecLibraryLocation, ATagReaderThatCannotBeMadeReleasesItsOwnReference)
{
    placement.placeBesideModule(CodecPlacement::fakeCodec("notagdata"));
    ApeDecoder decoder;
    decoder.open("tagged.ape");
    EXPECT_THROW(ApeTagReader reader(decoder), oryx::WindowsError);
    EXPECT_TRUE(decoder.isOpen());
    // TearDown, after the decoder is gone, shows whether the reader kept one.
}

TEST_F(CodecLibraryLocation, EveryUserHoldsAReferenceOfItsOwn)
{
    placement.placeBesideModule(CodecPlacement::fakeCodec("sound"));
    auto decoder = std::make_unique<ApeDecoder>();
    decoder->open("tagged.ape");
    {
        ApeTagReader reader(*decoder);
        decoder.reset();
        EXPECT_NE(CodecPlacement::loadedCodecDirectory(), "") << "the reader's reference keeps the library";
    }
}

} // namespace
