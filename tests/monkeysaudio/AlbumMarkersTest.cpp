// An album image's tracks as a player meets them: the registered source,
// created by its class identifier, loaded with files generated here whose
// cue sheet is in the tag or in a .cue beside them, answering
// IAMExtendedSeeking; a hostile sheet leaves the file playing whole; the
// description falls back to the tag's comment.
#include <cmath>
#include <string>
#include <vector>

#include <dshow.h>
#include <gtest/gtest.h>
#include <qnetwork.h>

#include "encoder/ApeEncoder.h"
#include "encoder/ApeTagWriter.h"
#include "filter/ExtendedSeekingInterface.h"
#include "monkeysaudio/SourceIdentifiers.h"
#include "support/COMPtr.h"
#include "tests/common/Watchdog.h"
#include "tests/monkeysaudio/CaptureGraph.h"
#include "tests/monkeysaudio/RegisteredModule.h"

using oryx::COMPtr;
using namespace registered;

namespace {

constexpr ape::PcmFormat cdFormat{2, 16, 44100};
constexpr std::uint32_t albumBlocks = 44100 * 6;

// Tracks 03 (before 02) and 05 (past the end) are dropped; 02's pregap
// (INDEX 00) stays with 01.
constexpr char albumSheet[] = "PERFORMER \"The Band\"\r\n"
                              "TITLE \"Six Seconds\"\r\n"
                              "FILE \"Six Seconds.wav\" WAVE\r\n"
                              "  TRACK 01 AUDIO\r\n"
                              "    TITLE \"Opening\"\r\n"
                              "    PERFORMER \"The Band\"\r\n"
                              "    INDEX 01 00:00:00\r\n"
                              "  TRACK 02 AUDIO\r\n"
                              "    TITLE \"Caf\xC3\xA9\"\r\n"
                              "    PERFORMER \"A Guest\"\r\n"
                              "    INDEX 00 00:01:00\r\n"
                              "    INDEX 01 00:02:00\r\n"
                              "  TRACK 03 AUDIO\r\n"
                              "    TITLE \"Out of order\"\r\n"
                              "    INDEX 01 00:01:50\r\n"
                              "  TRACK 04 AUDIO\r\n"
                              "    TITLE \"Coda\"\r\n"
                              "    INDEX 01 00:04:37\r\n"
                              "  TRACK 05 AUDIO\r\n"
                              "    TITLE \"Not there\"\r\n"
                              "    INDEX 01 00:07:00\r\n";

std::vector<std::uint8_t> makePcm(std::uint32_t blocks)
{
    std::vector<std::uint8_t> pcm;
    std::uint32_t noise = 35;
    for (std::uint32_t block = 0; block < blocks; ++block) {
        noise = noise * 1664525u + 1013904223u;
        for (const auto sample : {static_cast<std::int16_t>(9000 * std::sin(block * 0.031)),
                                  static_cast<std::int16_t>(static_cast<std::int32_t>(noise >> 20) - 2048)}) {
            pcm.push_back(static_cast<std::uint8_t>(sample));
            pcm.push_back(static_cast<std::uint8_t>(sample >> 8));
        }
    }
    return pcm;
}

struct TagItem {
    const char* key;
    std::string value;
};

void writeApe(const std::string& name, const std::vector<std::uint8_t>& pcm, const std::vector<TagItem>& items)
{
    ape::ApeEncoder encoder(cdFormat, ape::EncoderOptions{});
    std::vector<std::uint8_t> bytes = encoder.encode(pcm);
    ape::ApeTagWriter tag;
    for (const TagItem& item : items)
        tag.addText(item.key, item.value);
    const std::vector<std::uint8_t> tagBytes = tag.bytes();
    bytes.insert(bytes.end(), tagBytes.begin(), tagBytes.end());
    writeFile(modulePath(name), bytes);
}

void writeText(const std::string& name, const std::string& text)
{
    writeFile(modulePath(name), std::vector<std::uint8_t>(text.begin(), text.end()));
}

class AlbumMarkers : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(registerModule(), 0u);
        pcm = makePcm(albumBlocks);
        writeApe("embedded.ape", pcm,
                 {{"Title", "Six Seconds"}, {"CUESHEET", albumSheet}, {"Comment", "ripped with care"}});
        // The sidecar names the image the ripper wrote, and another file of
        // the same rip whose tracks are not ours.
        writeApe("Sidecar Album.ape", pcm, {{"Notes", "the notes"}, {"Comment", "the comment"}});
        writeText("Sidecar Album.cue", "\xEF\xBB\xBF"
                                       "PERFORMER \"The Band\"\n"
                                       "FILE \"Sidecar Album.wav\" WAVE\n"
                                       "TRACK 01 AUDIO\nTITLE \"First\"\nINDEX 01 00:00:00\n"
                                       "TRACK 02 AUDIO\nTITLE \"\xD0\x92\xD1\x82\xD0\xBE\xD1\x80\xD0\xBE\xD0\xB9\"\n"
                                       "INDEX 01 00:03:00\n"
                                       "FILE \"Another Disc.wav\" WAVE\n"
                                       "TRACK 03 AUDIO\nTITLE \"Elsewhere\"\nINDEX 01 00:01:00\n");
        writeApe("plain.ape", pcm, {{"Title", "No sheet"}});
        // A hostile sheet: control characters and NULs (a tag's text is
        // UTF-8, so no stray bytes), 10,000 tracks with falling times, a
        // title that never ends.
        const char garbage[] = "\x01\x02 garbage \x00\x7f\x1b[2J\r\r\n";
        std::string hostile(garbage, sizeof garbage - 1);
        for (int i = 0; i < 10000; ++i)
            hostile += "TRACK " + std::to_string(i % 99 + 1) + " AUDIO\nINDEX 01 " + std::to_string(10000 - i) +
                       ":00:00\nINDEX 01 -5:00:00\n";
        hostile += "TITLE \"" + std::string(100000, 'x');
        writeApe("hostile.ape", pcm, {{"Cuesheet", hostile}});
    }

    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }
    void TearDown() override
    {
        EXPECT_EQ(moduleCanUnloadNow(), S_OK) << "an object of the module was left alive";
        CoUninitialize();
    }

    static COMPtr<IBaseFilter> load(const std::string& name)
    {
        COMPtr<IBaseFilter> source(sourceClassId);
        COMPtr<IFileSourceFilter> file;
        file = source.get();
        EXPECT_EQ(file->Load(wide(modulePath(name)).c_str(), nullptr), S_OK) << name;
        return source;
    }

    static std::wstring markerName(IAMExtendedSeeking& seeking, long number)
    {
        BSTR name = nullptr;
        EXPECT_EQ(seeking.GetMarkerName(number, &name), S_OK) << number;
        std::wstring text = name ? std::wstring(name, SysStringLen(name)) : L"<none>";
        SysFreeString(name);
        return text;
    }
    static double markerTime(IAMExtendedSeeking& seeking, long number)
    {
        double seconds = -1;
        EXPECT_EQ(seeking.GetMarkerTime(number, &seconds), S_OK) << number;
        return seconds;
    }
    static long property(IAMExtendedSeeking& seeking, HRESULT (STDMETHODCALLTYPE IAMExtendedSeeking::*getter)(long*))
    {
        long value = -1;
        EXPECT_EQ((seeking.*getter)(&value), S_OK);
        return value;
    }
    static std::wstring description(IBaseFilter& source)
    {
        COMPtr<IAMMediaContent> content;
        content = &source;
        BSTR text = nullptr;
        EXPECT_EQ(content->get_Description(&text), S_OK);
        std::wstring result = text ? text : L"<none>";
        SysFreeString(text);
        return result;
    }

    Watchdog watchdog{300'000};
    static std::vector<std::uint8_t> pcm;
};

std::vector<std::uint8_t> AlbumMarkers::pcm;

TEST_F(AlbumMarkers, AnEmbeddedSheetGivesTheRisingTracksAsNamedMarkers)
{
    COMPtr<IBaseFilter> source = load("embedded.ape");
    COMPtr<IAMExtendedSeeking> seeking;
    seeking = source.get();
    EXPECT_EQ(property(*seeking, &IAMExtendedSeeking::get_ExSeekCapabilities),
              AM_EXSEEK_CANSEEK | AM_EXSEEK_MARKERSEEK);
    ASSERT_EQ(property(*seeking, &IAMExtendedSeeking::get_MarkerCount), 3);
    EXPECT_EQ(markerTime(*seeking, 1), 0.0);
    EXPECT_EQ(markerTime(*seeking, 2), 2.0);
    EXPECT_DOUBLE_EQ(markerTime(*seeking, 3), 4 + 37 / 75.0);
    EXPECT_EQ(markerName(*seeking, 1), L"01. Opening") << "the album's own performer is not repeated";
    EXPECT_EQ(markerName(*seeking, 2), L"02. Caf\u00e9 - A Guest");
    EXPECT_EQ(markerName(*seeking, 3), L"04. Coda");
    double seconds = -1;
    EXPECT_EQ(seeking->GetMarkerTime(0, &seconds), E_INVALIDARG);
    EXPECT_EQ(seeking->GetMarkerTime(4, &seconds), E_INVALIDARG);
    BSTR name = nullptr;
    EXPECT_EQ(seeking->GetMarkerName(4, &name), E_INVALIDARG);
    EXPECT_EQ(name, nullptr);
    double speed = 0;
    EXPECT_EQ(seeking->get_PlaybackSpeed(&speed), S_OK);
    EXPECT_EQ(speed, 1.0);
    EXPECT_EQ(seeking->put_PlaybackSpeed(2.0), E_INVALIDARG);

    // The current marker follows the position: the start, a seek into the
    // second track (paused, so the worker has carried it out), the end.
    EXPECT_EQ(property(*seeking, &IAMExtendedSeeking::get_CurrentMarker), 1);
    {
        CaptureGraph capture(source.get());
        ASSERT_TRUE(capture.connected);
        ASSERT_EQ(capture.seekTo(25'000'000), S_OK);
        capture.control->Pause();
        OAFilterState state;
        capture.control->GetState(10'000, &state);
        EXPECT_EQ(property(*seeking, &IAMExtendedSeeking::get_CurrentMarker), 2);
        capture.control->Stop();
        ASSERT_EQ(capture.seekTo(0), S_OK);
        ASSERT_EQ(capture.play(), EC_COMPLETE);
        EXPECT_TRUE(capture.bytes() == pcm) << "a sheet changes nothing of what plays";
        EXPECT_EQ(property(*seeking, &IAMExtendedSeeking::get_CurrentMarker), 3);
    }

    EXPECT_EQ(description(*source), L"ripped with care") << "without Notes, the tag's Comment";
}

TEST_F(AlbumMarkers, ASidecarSheetGivesOnlyTheTracksOfTheEntryForThisFile)
{
    COMPtr<IBaseFilter> source = load("Sidecar Album.ape");
    COMPtr<IAMExtendedSeeking> seeking;
    seeking = source.get();
    ASSERT_EQ(property(*seeking, &IAMExtendedSeeking::get_MarkerCount), 2);
    EXPECT_EQ(markerName(*seeking, 1), L"01. First");
    EXPECT_EQ(markerName(*seeking, 2), L"02. \u0412\u0442\u043e\u0440\u043e\u0439");
    EXPECT_EQ(markerTime(*seeking, 2), 3.0);
    EXPECT_EQ(description(*source), L"the notes") << "Notes comes before Comment";

    // Loading a file without a sheet takes the markers away.
    COMPtr<IFileSourceFilter> file;
    file = source.get();
    ASSERT_EQ(file->Load(wide(modulePath("plain.ape")).c_str(), nullptr), S_OK);
    EXPECT_EQ(property(*seeking, &IAMExtendedSeeking::get_ExSeekCapabilities), AM_EXSEEK_CANSEEK);
    EXPECT_EQ(property(*seeking, &IAMExtendedSeeking::get_MarkerCount), 0);
    EXPECT_EQ(property(*seeking, &IAMExtendedSeeking::get_CurrentMarker), 0);
    double seconds = -1;
    EXPECT_EQ(seeking->GetMarkerTime(1, &seconds), E_INVALIDARG);
    EXPECT_EQ(description(*source), L"");
}

TEST_F(AlbumMarkers, AFileWithAHostileSheetPlaysWhole)
{
    COMPtr<IBaseFilter> source = load("hostile.ape");
    COMPtr<IAMExtendedSeeking> seeking;
    seeking = source.get();
    EXPECT_EQ(property(*seeking, &IAMExtendedSeeking::get_MarkerCount), 0) << "every time lies past the end";
    CaptureGraph capture(source.get());
    ASSERT_TRUE(capture.connected);
    ASSERT_EQ(capture.play(), EC_COMPLETE);
    EXPECT_TRUE(capture.bytes() == pcm);
}

} // namespace
