#include <gtest/gtest.h>

#include "monkeysaudio/PathNames.h"

namespace {

TEST(PathComponent, CountsFromTheStartAndFromTheEnd)
{
    const std::string path = "C:\\Program Files\\Media\\apesrc.dll";
    EXPECT_EQ(pathComponent(path, 0), "C:\\") << "a drive comes back as its root";
    EXPECT_EQ(pathComponent(path, 1), "Program Files");
    EXPECT_EQ(pathComponent(path, 3), "apesrc.dll");
    EXPECT_EQ(pathComponent(path, 4), "");
    EXPECT_EQ(pathComponent(path, -1), "apesrc.dll");
    EXPECT_EQ(pathComponent(path, -2), "Media");
    EXPECT_EQ(pathComponent(path, -4), "C:\\");
}

TEST(PathComponent, IgnoresOneTrailingBackslashAndKeepsALeadingOne)
{
    EXPECT_EQ(pathComponent("C:\\Media\\", -1), "Media");
    EXPECT_EQ(pathComponent("\\share\\file", 0), "\\");
    EXPECT_EQ(pathComponent("\\share\\file", 1), "share");
    EXPECT_EQ(pathComponent("file.dll", 0), "file.dll");
    EXPECT_EQ(pathComponent("file.dll", -1), "file.dll");
    EXPECT_EQ(pathComponent("", 0), "");
}

TEST(ParentDirectory, DropsTheLastComponentButKeepsADriveRoot)
{
    EXPECT_EQ(parentDirectory("C:\\Media\\apesrc.dll"), "C:\\Media");
    EXPECT_EQ(parentDirectory("C:\\apesrc.dll"), "C:\\");
    EXPECT_EQ(parentDirectory("C:\\a\\b\\c.dll"), "C:\\a\\b");
    EXPECT_EQ(parentDirectory("apesrc.dll"), "");
}

TEST(JoinPath, PlacesANameUnderTheBase)
{
    EXPECT_EQ(joinPath("C:\\Media", "MACDllC.dll"), "C:\\Media\\MACDllC.dll");
    EXPECT_EQ(joinPath("C:\\Media\\", "MACDllC.dll"), "C:\\Media\\MACDllC.dll");
    EXPECT_EQ(joinPath("C:\\", "MACDllC.dll"), "C:\\MACDllC.dll");
    EXPECT_EQ(joinPath("C:\\a\\b", "c\\x.dll"), "C:\\a\\b\\c\\x.dll");
}

TEST(JoinPath, ClimbsOutOfTheBaseForEachLeadingDotDotButNeverAboveTheDrive)
{
    EXPECT_EQ(joinPath("C:\\a\\b", "..\\x.dll"), "C:\\a\\x.dll");
    EXPECT_EQ(joinPath("C:\\a\\b", "..\\..\\x.dll"), "C:\\x.dll");
    EXPECT_EQ(joinPath("C:\\a", "..\\..\\..\\x.dll"), "C:\\x.dll");
    EXPECT_EQ(joinPath("a\\b", "..\\..\\x.dll"), "x.dll") << "a relative base can be used up";
}

TEST(JoinPath, KeepsAnAbsoluteNameOrAnEmptyBaseUnchanged)
{
    EXPECT_EQ(joinPath("C:\\a", "D:\\x.dll"), "D:\\x.dll");
    EXPECT_EQ(joinPath("C:\\a", "\\x.dll"), "\\x.dll");
    EXPECT_EQ(joinPath("C:\\a", "x:"), "x:") << "a bare drive is absolute";
    EXPECT_EQ(joinPath("", "x.dll"), "x.dll");
}

TEST(JoinPath, GivesNothingForANameThatIsADirectory)
{
    EXPECT_EQ(joinPath("C:\\a", "b\\"), "");
    EXPECT_EQ(joinPath("C:\\a", "b\\c:"), "");
}

} // namespace
