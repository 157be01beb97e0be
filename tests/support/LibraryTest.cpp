#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "support/Library.h"
#include "support/WindowsError.h"

using namespace oryx;

namespace {

// A system library no test program loads on its own, so its presence in the
// process tells whether a Library object still holds it.
constexpr const char* spareLibrary = "msacm32.dll";

bool isLoaded(const char* name)
{
    return GetModuleHandleA(name) != nullptr;
}

TEST(Library, RefusesNamesLongerThanMaxPathBeforeCallingTheSystem)
{
    Library library;
    try {
        library.load(std::string(MAX_PATH + 1, 'a'));
        FAIL() << "nothing raised";
    } catch (const WindowsError&) {
        FAIL() << "the loader was called";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Path length exceeds MAX_PATH");
    }
    EXPECT_THROW(library.load(std::string(MAX_PATH, 'a')), WindowsError) << "260 characters reach the loader";
}

TEST(Library, NamesAnAbsentLibraryAndKeepsTheSystemsCode)
{
    try {
        Library library("no-such-library.dll", true);
        FAIL() << "nothing raised";
    } catch (const WindowsError& e) {
        EXPECT_EQ(e.code, static_cast<std::uint32_t>(ERROR_MOD_NOT_FOUND));
        EXPECT_EQ(std::string(e.what()).rfind("Can't load library \"no-such-library.dll\": ", 0), 0u) << e.what();
    }
    try {
        Library library("no-such-library.dll", false);
        FAIL() << "nothing raised";
    } catch (const WindowsError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Can't get module handle for \"no-such-library.dll\": ", 0), 0u);
    }
}

TEST(Library, FreesWhatItLoadedExactlyOnce)
{
    ASSERT_FALSE(isLoaded(spareLibrary));
    HMODULE own = LoadLibraryA(spareLibrary);
    ASSERT_NE(own, nullptr);
    {
        Library library(spareLibrary, true);
        EXPECT_EQ(library.handle(), own);
        library.free();
        library.free();
        EXPECT_EQ(library.handle(), nullptr);
    }
    EXPECT_TRUE(isLoaded(spareLibrary)) << "the library released a reference it did not hold";
    FreeLibrary(own);
    EXPECT_FALSE(isLoaded(spareLibrary));

    {
        Library library(spareLibrary, true);
        EXPECT_TRUE(isLoaded(spareLibrary));
    }
    EXPECT_FALSE(isLoaded(spareLibrary)) << "destruction must free a loaded library";
}

TEST(Library, NeverFreesAModuleItOnlyRefersTo)
{
    HMODULE own = LoadLibraryA(spareLibrary);
    ASSERT_NE(own, nullptr);
    {
        Library byHandle(own);
        Library byName(spareLibrary, false);
        EXPECT_EQ(byName.handle(), own);
    }
    EXPECT_TRUE(isLoaded(spareLibrary));
    FreeLibrary(own);
}

TEST(Library, ResolvesEntryPointsAndTellsMissingOnesApart)
{
    Library kernel("kernel32.dll", false);
    EXPECT_NE(kernel.procAddress("GetTickCount"), nullptr);
    EXPECT_EQ(kernel.procAddress("NoSuchExport", true), nullptr);
    try {
        kernel.procAddress("NoSuchExport");
        FAIL() << "nothing raised";
    } catch (const WindowsError& e) {
        EXPECT_EQ(e.code, static_cast<std::uint32_t>(ERROR_PROC_NOT_FOUND));
        EXPECT_EQ(std::string(e.what()).rfind("Can't get proc address for \"NoSuchExport\": ", 0), 0u);
    }
}

TEST(Library, KnowsItsFileName)
{
    const Library program(GetModuleHandleA(nullptr));
    const std::string name = program.fileName();
    EXPECT_EQ(name.substr(name.size() - 4), ".exe") << name;
    EXPECT_EQ(program.fileNameW().size(), name.size());
}

TEST(Library, RaisesForAMessageTheModuleDoesNotHave)
{
    const Library kernel("kernel32.dll", false);
    try {
        kernel.formatMessage(0x7ffe, 0);
        FAIL() << "nothing raised";
    } catch (const WindowsError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Can't format message id 7ffe with languag 0", 0), 0u) << e.what();
    }
}

} // namespace
