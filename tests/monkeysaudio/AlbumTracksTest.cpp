// Which sheet and which of its entries give a file its tracks, how their
// texts are decoded, and how a track is named and found by position.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <windows.h>

#include "monkeysaudio/AlbumTracks.h"

namespace {

constexpr std::uint32_t rate = 44100;
constexpr std::uint64_t total = rate * 600ull;

std::string twoTracks(const std::string& fileLine)
{
    return fileLine + "TRACK 01 AUDIO\nTITLE \"One\"\nINDEX 01 00:00:00\n"
                      "TRACK 02 AUDIO\nTITLE \"Two\"\nPERFORMER \"Guest\"\nINDEX 01 01:00:00\n";
}

TEST(AlbumTracks, TheTaggedSheetWinsAndItsOnlyEntryIsThisFileWhateverItsName)
{
    const std::string tagged = "PERFORMER \"Band\"\nTITLE \"Album\"\n" + twoTracks("FILE \"CDImage.wav\" WAVE\n");
    const AlbumTracks album = AlbumTracks::read(tagged, L"C:\\Music\\Album.ape", rate, total);
    EXPECT_EQ(album.title(), L"Album");
    EXPECT_EQ(album.performer(), L"Band");
    ASSERT_EQ(album.tracks().size(), 2u);
    EXPECT_EQ(album.tracks()[0].number, 1u);
    EXPECT_EQ(album.tracks()[0].start, 0u);
    EXPECT_EQ(album.tracks()[0].end, rate * 60ull);
    EXPECT_EQ(album.tracks()[1].start, rate * 60ull);
    EXPECT_EQ(album.tracks()[1].end, total);
    EXPECT_EQ(album.tracks()[1].title, L"Two");
    EXPECT_EQ(album.tracks()[1].performer, L"Guest");
    EXPECT_EQ(album.displayName(album.tracks()[0]), L"01. One");
    EXPECT_EQ(album.displayName(album.tracks()[1]), L"02. Two - Guest");

    // A tag item that is no sheet at all gives nothing, sidecar or not.
    EXPECT_TRUE(AlbumTracks::read(std::string("\x01\x02"), L"C:\\Music\\Album.ape", rate, total).tracks().empty());
}

TEST(AlbumTracks, OfSeveralEntriesOnlyTheOneWithThisFilesBaseNameCounts)
{
    const std::string sheet = twoTracks("FILE \"Disc 1.wav\" WAVE\n") +
                              "FILE \"C:\\rips\\DISC 2.flac\" WAVE\nTRACK 03 AUDIO\nINDEX 01 00:00:00\n";
    EXPECT_EQ(AlbumTracks::read(sheet, L"Z:\\a\\Disc 1.ape", rate, total).tracks().size(), 2u);
    const AlbumTracks second = AlbumTracks::read(sheet, L"Z:\\a\\disc 2.ape", rate, total);
    ASSERT_EQ(second.tracks().size(), 1u) << "names compare without case, folder or extension";
    EXPECT_EQ(second.tracks()[0].number, 3u);
    EXPECT_TRUE(AlbumTracks::read(sheet, L"Z:\\a\\Disc 3.ape", rate, total).tracks().empty());
    // Two entries that both claim the file: neither is trusted.
    EXPECT_TRUE(AlbumTracks::read(sheet + "FILE \"disc 1.ape\" WAVE\nTRACK 04 AUDIO\nINDEX 01 00:00:00\n",
                                  L"Disc 1.ape", rate, total)
                    .tracks()
                    .empty());
}

TEST(AlbumTracks, ASidecarOfTheSameBaseNameIsReadWhenTheTagHasNoSheet)
{
    EXPECT_EQ(AlbumTracks::sidecarName(L"C:\\Music\\Album.ape"), L"C:\\Music\\Album.cue");
    EXPECT_EQ(AlbumTracks::sidecarName(L"C:\\Music.old\\Album"), L"C:\\Music.old\\Album.cue");
    EXPECT_EQ(AlbumTracks::sidecarName(L"a.b.ape"), L"a.b.cue");

    wchar_t folder[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
    const std::wstring ape = std::wstring(folder) + L"album-tracks-test.ape";
    const std::wstring cue = AlbumTracks::sidecarName(ape);
    DeleteFileW(cue.c_str());
    EXPECT_TRUE(AlbumTracks::read(std::nullopt, ape, rate, total).tracks().empty()) << "no sheet anywhere";

    // Not UTF-8: the system's ANSI code page decodes it.
    std::ofstream(std::filesystem::path(cue), std::ios::binary)
        << "TITLE \"Caf\xE9 \x80\"\n" + twoTracks("FILE \"image.wav\" WAVE\n");
    const AlbumTracks album = AlbumTracks::read(std::nullopt, ape, rate, total);
    EXPECT_EQ(album.tracks().size(), 2u);
    if (GetACP() == 1252)
        EXPECT_EQ(album.title(), L"Caf\u00e9 \u20ac");
    else
        EXPECT_FALSE(album.title().empty()) << "code page " << GetACP();
    EXPECT_EQ(AlbumTracks::read(std::string(), ape, rate, total).tracks().size(), 0u)
        << "an empty sheet in the tag hides the sidecar";
    DeleteFileW(cue.c_str());
}

TEST(AlbumTracks, APositionBelongsToTheLastTrackStartedAtOrBeforeIt)
{
    const AlbumTracks album = AlbumTracks::read(
        std::string("TRACK 01 AUDIO\nINDEX 01 00:02:00\nTRACK 02 AUDIO\nINDEX 01 00:10:00\n"), L"x.ape", rate, total);
    ASSERT_EQ(album.tracks().size(), 2u);
    EXPECT_EQ(album.indexAt(0), 0u) << "before the first track: the first";
    EXPECT_EQ(album.indexAt(rate * 2), 0u);
    EXPECT_EQ(album.indexAt(rate * 10 - 1), 0u);
    EXPECT_EQ(album.indexAt(rate * 10), 1u);
    EXPECT_EQ(album.indexAt(total + 5), 1u);
    EXPECT_EQ(album.displayName(album.tracks()[0]), L"01") << "a track without a title is its number";
}

} // namespace
