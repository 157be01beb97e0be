#include <gtest/gtest.h>

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
    EXPECT_EQ(messageFor({L"a.ape", L"--engine"}), "--engine needs a value");
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
