// The cue-sheet reader: every command a ripper writes, the three line ends
// and the encodings a sheet comes in, the tracks of one file among several,
// their layout in blocks, and sheets made to break a reader.
#include "format/CueSheet.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

using ape::CueFile;
using ape::CueSheet;
using ape::CueTrack;
using namespace std::string_view_literals;

namespace {

constexpr std::string_view albumSheet = "REM GENRE \"Progressive Rock\"\n"
                                        "REM DATE 1999\n"
                                        "REM COMMENT \"ripped twice\"\n"
                                        "REM DISCID 8A0B2C0D\n" // an unknown remark
                                        "CATALOG 0724385583227\n"
                                        "PERFORMER \"The Band\"\n"
                                        "TITLE \"Live at the Hall\"\n"
                                        "SONGWRITER Someone\n"
                                        "CDTEXTFILE \"album.cdt\"\n" // an unknown command
                                        "FILE \"The Band - Live.wav\" WAVE\n"
                                        "  TRACK 01 AUDIO\n"
                                        "    TITLE \"Intro\"\n"
                                        "    PERFORMER \"The Band\"\n"
                                        "    ISRC GBAYE9900001\n"
                                        "    FLAGS DCP PRE\n"
                                        "    INDEX 01 00:00:00\n"
                                        "  TRACK 02 AUDIO\n"
                                        "    TITLE Second song, unquoted\n"
                                        "    PERFORMER \"A Guest\"\n"
                                        "    SONGWRITER \"B. Writer\"\n"
                                        "    REM COMMENT \"a track's remark\"\n"
                                        "    PREGAP 00:02:00\n"
                                        "    INDEX 00 03:58:40\n"
                                        "    INDEX 01 04:00:00\n"
                                        "  TRACK 03 AUDIO\n"
                                        "    TITLE \"Encore\"\n"
                                        "    POSTGAP 00:01:10\n"
                                        "    INDEX 01 61:30:74\n";

std::string withLineEnds(std::string_view text, std::string_view end)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += end;
        else
            out += c;
    }
    return out;
}

std::int64_t frames(int minutes, int seconds, int frame)
{
    return (minutes * 60 + seconds) * 75 + frame;
}

} // namespace

TEST(CueSheet, ReadsEveryCommandWithAnyLineEndAndIgnoresUnknownOnes)
{
    for (std::string_view end : {"\n"sv, "\r\n"sv, "\r"sv}) {
        SCOPED_TRACE(end == "\n" ? "LF" : end == "\r" ? "CR" : "CRLF");
        const CueSheet sheet = CueSheet::parse(withLineEnds(albumSheet, end));
        EXPECT_EQ(sheet.encoding(), CueSheet::Encoding::utf8);
        EXPECT_EQ(sheet.title(), "Live at the Hall");
        EXPECT_EQ(sheet.performer(), "The Band");
        EXPECT_EQ(sheet.songwriter(), "Someone");
        EXPECT_EQ(sheet.catalog(), "0724385583227");
        EXPECT_EQ(sheet.genre(), "Progressive Rock");
        EXPECT_EQ(sheet.date(), "1999");
        EXPECT_EQ(sheet.comment(), "ripped twice");
        ASSERT_EQ(sheet.files().size(), 1u);
        const CueFile& file = sheet.files()[0];
        EXPECT_EQ(file.name, "The Band - Live.wav");
        ASSERT_EQ(file.tracks.size(), 3u);

        const CueTrack& first = file.tracks[0];
        EXPECT_EQ(first.number, 1u);
        EXPECT_EQ(first.title, "Intro");
        EXPECT_EQ(first.performer, "The Band");
        EXPECT_EQ(first.isrc, "GBAYE9900001");
        EXPECT_EQ(first.flags, "DCP PRE");
        EXPECT_EQ(first.index00, -1);
        EXPECT_EQ(first.index01, 0);

        const CueTrack& second = file.tracks[1];
        EXPECT_EQ(second.number, 2u);
        EXPECT_EQ(second.title, "Second song, unquoted");
        EXPECT_EQ(second.performer, "A Guest");
        EXPECT_EQ(second.songwriter, "B. Writer");
        EXPECT_EQ(second.comment, "a track's remark");
        EXPECT_EQ(second.pregap, frames(0, 2, 0));
        EXPECT_EQ(second.index00, frames(3, 58, 40));
        EXPECT_EQ(second.index01, frames(4, 0, 0));

        const CueTrack& third = file.tracks[2];
        EXPECT_EQ(third.title, "Encore");
        EXPECT_EQ(third.postgap, frames(0, 1, 10));
        EXPECT_EQ(third.index01, frames(61, 30, 74));
    }
    // Commands and remark names in any case; a missing closing quote ends
    // the value at the line's end.
    const CueSheet lower = CueSheet::parse("title \"open\ntrack 5 audio\nindex 01 00:00:01\nrem genre Jazz\n");
    EXPECT_EQ(lower.title(), "open");
    ASSERT_EQ(lower.files().size(), 1u);
    EXPECT_EQ(lower.files()[0].name, "") << "tracks before any FILE line belong to the sheet's own file";
    EXPECT_EQ(lower.files()[0].tracks.at(0).number, 5u);
    EXPECT_EQ(lower.files()[0].tracks.at(0).index01, 1);
    EXPECT_EQ(lower.files()[0].tracks.at(0).genre, "Jazz");
}

TEST(CueSheet, TextIsUtf8WithOrWithoutAMarkUtf16WithAMarkAndOtherwiseTheLocalCodePage)
{
    const std::string utf8 =
        "TITLE \"\xd0\x90\xd0\xbb\xd1\x8c\xd0\xb1\xd0\xbe\xd0\xbc\"\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";
    CueSheet sheet = CueSheet::parse(utf8);
    EXPECT_EQ(sheet.encoding(), CueSheet::Encoding::utf8);
    EXPECT_EQ(sheet.title(), "\xd0\x90\xd0\xbb\xd1\x8c\xd0\xb1\xd0\xbe\xd0\xbc");

    sheet = CueSheet::parse("\xef\xbb\xbf" + utf8);
    EXPECT_EQ(sheet.encoding(), CueSheet::Encoding::utf8);
    EXPECT_EQ(sheet.title(), "\xd0\x90\xd0\xbb\xd1\x8c\xd0\xb1\xd0\xbe\xd0\xbc") << "the mark is not part of the text";
    EXPECT_EQ(sheet.files().at(0).tracks.size(), 1u);

    // The same sheet in UTF-16 of both byte orders, with a character past
    // U+FFFF (a surrogate pair) in the title.
    const std::u16string text = u"TITLE \"\u0410\U0001F3B5\"\r\nTRACK 01 AUDIO\r\nINDEX 01 00:00:00\r\n";
    for (bool bigEndian : {false, true}) {
        std::string bytes = bigEndian ? "\xfe\xff" : "\xff\xfe";
        for (char16_t unit : text) {
            const char high = char(unit >> 8), low = char(unit & 0xff);
            bytes += bigEndian ? high : low;
            bytes += bigEndian ? low : high;
        }
        sheet = CueSheet::parse(bytes);
        EXPECT_EQ(sheet.encoding(), CueSheet::Encoding::utf8);
        EXPECT_EQ(sheet.title(), "\xd0\x90\xf0\x9f\x8e\xb5") << bigEndian;
        EXPECT_EQ(sheet.files().at(0).tracks.at(0).index01, 0);
    }
    // An unpaired surrogate and an odd last byte still give UTF-8.
    sheet = CueSheet::parse("\xff\xfeT\0I\0T\0L\0E\0 \0\x00\xd8x\0!"sv);
    EXPECT_EQ(sheet.title(), "\xef\xbf\xbdx");

    // Windows-1251 bytes are not UTF-8: they stay bytes, for the caller's
    // code page.
    sheet = CueSheet::parse("TITLE \"\xcf\xf0\xe8\xe2\xe5\xf2\"\n");
    EXPECT_EQ(sheet.encoding(), CueSheet::Encoding::localCodePage);
    EXPECT_EQ(sheet.title(), "\xcf\xf0\xe8\xe2\xe5\xf2");
}

TEST(CueSheet, EachFileKeepsItsOwnAudioTracks)
{
    const CueSheet sheet = CueSheet::parse("FILE \"disc one.wav\" WAVE\n"
                                           "TRACK 01 AUDIO\nTITLE \"A\"\nINDEX 01 00:00:00\n"
                                           "TRACK 02 MODE1/2352\nTITLE \"data\"\nINDEX 01 00:10:00\n"
                                           "TRACK 03 AUDIO\nINDEX 01 00:20:00\n"
                                           "FILE disc two.ape WAVE\n"
                                           "TRACK 04 AUDIO\nTITLE \"B\"\nINDEX 01 00:00:00\n");
    ASSERT_EQ(sheet.files().size(), 2u);
    EXPECT_EQ(sheet.files()[0].name, "disc one.wav");
    EXPECT_EQ(sheet.files()[1].name, "disc two.ape") << "an unquoted name ends before the file type";
    ASSERT_EQ(sheet.files()[0].tracks.size(), 2u) << "a data track and its lines are ignored";
    EXPECT_EQ(sheet.files()[0].tracks[0].title, "A");
    EXPECT_EQ(sheet.files()[0].tracks[1].number, 3u);
    EXPECT_EQ(sheet.files()[0].tracks[1].title, "");
    ASSERT_EQ(sheet.files()[1].tracks.size(), 1u);
    EXPECT_EQ(sheet.files()[1].tracks[0].title, "B");
}

TEST(CueSheet, TracksStartAtTheirBlockAndEndWhereTheNextStarts)
{
    const CueSheet sheet = CueSheet::parse(albumSheet);
    const CueFile& file = sheet.files()[0];
    // At the rates that divide by 75 a frame is a whole number of blocks.
    for (std::uint32_t rate : {44100u, 48000u, 88200u, 96000u, 176400u, 192000u}) {
        const std::uint64_t total = std::uint64_t{rate} * 3700;
        const auto spans = CueSheet::tracksOf(file, rate, total);
        ASSERT_EQ(spans.size(), 3u) << rate;
        EXPECT_EQ(spans[0].start, 0u);
        EXPECT_EQ(spans[0].end, std::uint64_t{rate} * 240) << "the pregap stays with the track before";
        EXPECT_EQ(spans[1].start, std::uint64_t{rate} * 240);
        EXPECT_EQ(spans[2].start, std::uint64_t{rate} * 3690 + rate / 75 * 74);
        EXPECT_EQ(spans[2].end, total);
        EXPECT_EQ(spans[1].track, &file.tracks[1]);
    }
    // Elsewhere to the nearest block: 1 frame at 8000 Hz is 106.67 blocks,
    // 2 frames 213.33.
    EXPECT_EQ(CueSheet::framesToBlocks(1, 8000), 107u);
    EXPECT_EQ(CueSheet::framesToBlocks(2, 8000), 213u);
    EXPECT_EQ(CueSheet::framesToBlocks(frames(99999, 59, 74), 4294967295u), 25769803712733769u);

    // Tracks that do not rise, or start at or past the end, are dropped.
    const CueSheet disorder = CueSheet::parse("TRACK 01 AUDIO\nINDEX 01 00:10:00\n"
                                              "TRACK 02 AUDIO\nINDEX 01 00:05:00\n" // before track 1
                                              "TRACK 03 AUDIO\nINDEX 01 00:10:00\n" // at track 1
                                              "TRACK 04 AUDIO\nINDEX 00 00:20:00\n" // no INDEX 01
                                              "TRACK 05 AUDIO\nINDEX 01 00:20:00\n"
                                              "TRACK 06 AUDIO\nINDEX 01 00:30:00\n"   // at the end
                                              "TRACK 07 AUDIO\nINDEX 01 00:40:00\n"); // past it
    const auto spans = CueSheet::tracksOf(disorder.files()[0], 44100, 44100 * 30);
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_EQ(spans[0].track->number, 1u);
    EXPECT_EQ(spans[0].start, 44100u * 10);
    EXPECT_EQ(spans[0].end, 44100u * 20);
    EXPECT_EQ(spans[1].track->number, 5u);
    EXPECT_EQ(spans[1].end, 44100u * 30);
    EXPECT_TRUE(CueSheet::tracksOf(disorder.files()[0], 44100, 0).empty());
}

TEST(CueSheet, HostileSheetsAreReadWithinBoundsOrIgnored)
{
    // 10,000 tracks: the first 99 are kept.
    std::string many;
    for (int i = 0; i < 10000; ++i)
        many += "TRACK " + std::to_string(i % 99 + 1) + " AUDIO\nINDEX 01 " + std::to_string(i) + ":00:00\n";
    CueSheet sheet = CueSheet::parse(many);
    ASSERT_EQ(sheet.files().size(), 1u);
    EXPECT_EQ(sheet.files()[0].tracks.size(), CueSheet::trackLimit);
    EXPECT_EQ(CueSheet::tracksOf(sheet.files()[0], 44100, 44100ull * 60 * 10000).size(), CueSheet::trackLimit);

    // So many files that the tracks of the last ones are ignored.
    std::string files;
    for (int i = 0; i < 200; ++i)
        files += "FILE \"f" + std::to_string(i) + ".wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";
    sheet = CueSheet::parse(files);
    EXPECT_EQ(sheet.files().size(), CueSheet::fileLimit);
    EXPECT_EQ(sheet.files().back().name, "f98.wav");
    EXPECT_EQ(sheet.files().back().tracks.size(), 1u);

    // Indexes that only decrease: only the first track is playable.
    std::string falling;
    for (int i = 0; i < 50; ++i)
        falling += "TRACK " + std::to_string(i + 1) + " AUDIO\nINDEX 01 " + std::to_string(60 - i) + ":00:00\n";
    sheet = CueSheet::parse(falling);
    EXPECT_EQ(CueSheet::tracksOf(sheet.files()[0], 48000, 48000ull * 3600).size(), 1u);

    // A 100,000-character title without its closing quote: the line is
    // ignored, and the lines after it are read.
    sheet = CueSheet::parse("TITLE \"" + std::string(100000, 'x') + "\nPERFORMER \"after\"\n");
    EXPECT_EQ(sheet.title(), "");
    EXPECT_EQ(sheet.performer(), "after");
    // The same with no line end at all.
    sheet = CueSheet::parse("TITLE \"" + std::string(100000, 'x'));
    EXPECT_EQ(sheet.title(), "");

    // Negative, malformed and overflowing times are ignored.
    sheet = CueSheet::parse("TRACK 01 AUDIO\nINDEX 01 -1:00:00\nINDEX 01 00:-1:00\nINDEX 01 00:60:00\n"
                            "INDEX 01 00:00:75\nINDEX 01 99999999999999999999:00:00\nINDEX 01 100000:00:00\n"
                            "INDEX 01 1:2\nINDEX 01 ::\nPREGAP 18446744073709551616:00:00\n"
                            "TRACK 0 AUDIO\nINDEX 01 00:00:00\nTRACK 100 AUDIO\nINDEX 01 00:00:00\n"
                            "TRACK -1 AUDIO\nINDEX 01 00:00:00\n");
    ASSERT_EQ(sheet.files().size(), 1u);
    ASSERT_EQ(sheet.files()[0].tracks.size(), 1u) << "track numbers outside 1 to 99 are ignored";
    EXPECT_EQ(sheet.files()[0].tracks[0].index01, -1);
    EXPECT_EQ(sheet.files()[0].tracks[0].pregap, -1);
    EXPECT_TRUE(CueSheet::tracksOf(sheet.files()[0], 44100, 1 << 30).empty());

    // Binary garbage, NULs included, gives nothing and breaks nothing.
    std::string garbage;
    std::uint32_t x = 12345;
    for (int i = 0; i < 65536; ++i) {
        x = x * 1103515245 + 12345;
        garbage += char(x >> 16);
    }
    sheet = CueSheet::parse(garbage);
    EXPECT_EQ(sheet.encoding(), CueSheet::Encoding::localCodePage);
    std::size_t tracks = 0;
    for (const CueFile& file : sheet.files())
        tracks += file.tracks.size();
    EXPECT_LE(tracks, CueSheet::trackLimit);

    // A sheet larger than any real one is not read.
    std::string huge = "TITLE \"big\"\n";
    huge.resize(CueSheet::sheetByteLimit + 1, '\n');
    EXPECT_EQ(CueSheet::parse(huge).title(), "");
    EXPECT_TRUE(CueSheet::parse(huge).files().empty());
}
