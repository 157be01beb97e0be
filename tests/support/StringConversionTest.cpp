#include <string>

#include <gtest/gtest.h>

#include "support/StringConversion.h"

using namespace oryx;

namespace {

TEST(Widen, MapsEveryByteToTheWideCharacterOfItsValue)
{
    EXPECT_EQ(widen("Bj\xf6rk"), L"Bj\x00f6rk");
    EXPECT_EQ(widen(std::string("\x80\xff")), L"\x0080\x00ff");
}

TEST(Widen, StopsAtTheFirstNulAndTakesNullAsEmpty)
{
    EXPECT_EQ(widen(std::string("ab\0cd", 5)), L"ab");
    EXPECT_EQ(widen(static_cast<const char*>(nullptr)), L"");
    EXPECT_EQ(widen(""), L"");
}

TEST(Narrow, RoundTripsAsciiAndStopsAtTheFirstNul)
{
    EXPECT_EQ(narrow(widen("PCM Output"), CP_ACP), "PCM Output");
    EXPECT_EQ(narrow(std::wstring(L"ab\0cd", 5), CP_ACP), "ab");
}

TEST(Narrow, GivesEmptyStringsForEmptyAndNullInput)
{
    EXPECT_EQ(narrow(L"", CP_ACP), "");
    EXPECT_EQ(narrow(static_cast<const wchar_t*>(nullptr), CP_ACP), "");
    EXPECT_EQ(narrow(std::wstring(), CP_ACP), "");
}

TEST(Narrow, SubstitutesCharactersTheCodePageLacks)
{
    EXPECT_EQ(narrow(L"a\u4e2db", 1252), "a?b");
    EXPECT_EQ(narrow(L"\x00e9", 1252), "\xe9");
}

} // namespace
