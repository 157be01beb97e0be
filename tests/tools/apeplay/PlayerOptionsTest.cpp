#include <gtest/gtest.h>

#include "ConsoleText.h"
#include "PlayerOptions.h"

namespace {

using apeplay::parsePlayerOptions;
using apeplay::parseSeconds;
using apeplay::PlayerOptions;
using apeplay::UsageError;

TEST(PlayerOptions, TakesEveryOptionInAnyOrderAroundTheFile)
{
    const PlayerOptions plain = parsePlayerOptions({L"song.ape"});
    EXPECT_EQ(plain.file, L"song.ape");
    EXPECT_FALSE(plain.start);
    EXPECT_TRUE(plain.wavFile.empty());
    EXPECT_FALSE(plain.infoOnly);

    const PlayerOptions full =
        parsePlayerOptions({L"--wav", L"out.wav", L"Z:\\music\\s\u00f6ng.ape", L"--start", L"1.5"});
    EXPECT_EQ(full.file, L"Z:\\music\\s\u00f6ng.ape");
    EXPECT_EQ(full.wavFile, L"out.wav");
    ASSERT_TRUE(full.start);
    EXPECT_EQ(*full.start, 15'000'000);

    EXPECT_TRUE(parsePlayerOptions({L"--info", L"a.ape"}).infoOnly);
    EXPECT_EQ(parsePlayerOptions({L"a.ape", L"--cover", L"front.jpg"}).coverFile, L"front.jpg");
    EXPECT_FALSE(plain.track);
    EXPECT_FALSE(plain.listTracks);
    EXPECT_TRUE(parsePlayerOptions({L"a.ape", L"--tracks"}).listTracks);
    const PlayerOptions track = parsePlayerOptions({L"--track", L"07", L"--wav", L"t.wav", L"a.ape"});
    ASSERT_TRUE(track.track);
    EXPECT_EQ(*track.track, 7u);
    EXPECT_EQ(*parsePlayerOptions({L"--track", L"99", L"a.ape"}).track, 99u);
    EXPECT_EQ(plain.engine, apeplay::Engine::directShow);
    EXPECT_EQ(parsePlayerOptions({L"a.ape", L"--engine", L"mf"}).engine, apeplay::Engine::mediaFoundation);
    EXPECT_EQ(parsePlayerOptions({L"--engine", L"dshow", L"a.ape"}).engine, apeplay::Engine::directShow);
    // After "--" a name that looks like an option is a file.
    EXPECT_EQ(parsePlayerOptions({L"--", L"-odd.ape"}).file, L"-odd.ape");
}

TEST(PlayerOptions, HelpWinsOverEverythingElse)
{
    EXPECT_TRUE(parsePlayerOptions({L"--help"}).helpWanted);
    EXPECT_TRUE(parsePlayerOptions({L"--bogus", L"-h"}).helpWanted);
    EXPECT_TRUE(parsePlayerOptions({L"a.ape", L"b.ape", L"--help"}).helpWanted);
}

TEST(PlayerOptions, RefusesMistakesWithAMessageNamingThem)
{
    const auto messageFor = [](std::vector<std::wstring> arguments) -> std::string {
        try {
            parsePlayerOptions(arguments);
        } catch (const UsageError& e) {
            return e.what();
        }
        return "accepted";
    };
    EXPECT_EQ(messageFor({L"--bogus", L"a.ape"}), "no such option: --bogus");
    EXPECT_EQ(messageFor({}), "no file named");
    EXPECT_EQ(messageFor({L"a.ape", L"b.ape"}), "one file at a time, not 2");
    EXPECT_EQ(messageFor({L"a.ape", L"--wav"}), "--wav needs a value");
    EXPECT_EQ(messageFor({L"a.ape", L"--wav", L""}), "--wav needs a file name");
    EXPECT_EQ(messageFor({L"a.ape", L"--start"}), "--start needs a value");
    EXPECT_EQ(messageFor({L"a.ape", L"--start", L"soon"}), "--start needs a number of seconds, not \"soon\"");
    EXPECT_EQ(messageFor({L"--info", L"--wav", L"o.wav", L"a.ape"}), "--info takes neither --start nor --wav");
    EXPECT_EQ(messageFor({L"--info", L"--start", L"1", L"a.ape"}), "--info takes neither --start nor --wav");
    EXPECT_EQ(messageFor({L"--engine", L"vlc", L"a.ape"}), "--engine is dshow or mf, not \"vlc\"");
    for (const wchar_t* number : {L"0", L"100", L"-1", L"+2", L"1.5", L"", L"x", L"4294967297"})
        EXPECT_EQ(messageFor({L"--track", number, L"a.ape"}),
                  "--track needs a track number from 1 to 99, not \"" + apeplay::toUtf8(number) + "\"");
    EXPECT_EQ(messageFor({L"a.ape", L"--track"}), "--track needs a value");
    EXPECT_EQ(messageFor({L"--track", L"2", L"--start", L"1", L"a.ape"}),
              "--start and --track both say where to begin: give one");
    EXPECT_EQ(messageFor({L"--info", L"--track", L"2", L"a.ape"}), "--info takes no --track");
    for (std::vector<std::wstring> arguments : {std::vector<std::wstring>{L"--tracks", L"--track", L"2", L"a.ape"},
                                                {L"--tracks", L"--start", L"1", L"a.ape"},
                                                {L"--tracks", L"--wav", L"o.wav", L"a.ape"}})
        EXPECT_EQ(messageFor(arguments), "--tracks takes neither --start, --track nor --wav");
    EXPECT_EQ(messageFor({L"a.ape", L"--engine"}), "--engine needs a value");
    EXPECT_EQ(messageFor({L"a.ape", L"--cover"}), "--cover needs a value");
    EXPECT_EQ(messageFor({L"a.ape", L"--cover", L""}), "--cover needs a file name");
    for (const std::vector<std::wstring>& arguments :
         std::vector<std::vector<std::wstring>>{{L"--cover", L"c.jpg", L"--wav", L"o.wav", L"a.ape"},
                                                {L"--cover", L"c.jpg", L"--info", L"a.ape"},
                                                {L"--cover", L"c.jpg", L"--tracks", L"a.ape"},
                                                {L"--cover", L"c.jpg", L"--track", L"2", L"a.ape"}})
        EXPECT_EQ(messageFor(arguments), "--cover takes none of --info, --tracks, --start, --track and --wav");
}

TEST(PlayerOptions, SecondsBecomeHundredNanosecondUnits)
{
    EXPECT_EQ(parseSeconds(L"0"), 0);
    EXPECT_EQ(parseSeconds(L"12"), 120'000'000);
    EXPECT_EQ(parseSeconds(L"0.5"), 5'000'000);
    EXPECT_EQ(parseSeconds(L"0.00000005"), 1); // rounded, not truncated
    EXPECT_EQ(parseSeconds(L"3600"), 36'000'000'000LL);
    for (const wchar_t* bad : {L"", L"-1", L" 1", L"1 ", L"1s", L"nan", L"inf", L"1e300", L"0x10", L"1,5"})
        EXPECT_THROW(parseSeconds(bad), UsageError) << "accepted \"" << bad << "\"";
}

} // namespace
