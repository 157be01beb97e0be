#include <new>
#include <string>

#include <boost/numeric/conversion/cast.hpp>
#include <gtest/gtest.h>

#include "monkeysaudio/MonkeysAudioError.h"
#include "support/COMError.h"
#include "support/ComBoundary.h"
#include "support/HResults.h"
#include "support/WindowsError.h"

using namespace oryx;

namespace {

template <typename Exception>
HRESULT boundaryResultOf(const Exception& e)
{
    return comBoundary([&]() -> HRESULT { throw e; });
}

TEST(CheckResult, LetsSuccessCodesPass)
{
    EXPECT_NO_THROW(checkResult(S_OK));
    EXPECT_NO_THROW(checkResult(S_FALSE, "never raised"));
}

TEST(CheckResult, TurnsOutOfMemoryIntoBadAllocWhateverTheMessage)
{
    EXPECT_THROW(checkResult(E_OUTOFMEMORY, "Can't grow"), std::bad_alloc);
    EXPECT_EQ(comBoundary([]() -> HRESULT {
                  checkResult(E_OUTOFMEMORY, "Can't grow");
                  return S_OK;
              }),
              E_OUTOFMEMORY);
}

TEST(CheckResult, TurnsAWin32HResultIntoAWindowsErrorThatRebuildsIt)
{
    try {
        checkResult(static_cast<HRESULT>(0x80070005), "Can't open");
        FAIL() << "nothing raised";
    } catch (const WindowsError& e) {
        EXPECT_EQ(e.code, 5u);
        EXPECT_EQ(e.hresult(), static_cast<HRESULT>(0x80070005));
        EXPECT_EQ(exceptionToHResult(e), static_cast<HRESULT>(0x80070005));
    }
}

TEST(CheckResult, TurnsOtherFailuresIntoACOMErrorWithTheDescription)
{
    try {
        checkResult(E_NOINTERFACE, "Can't query");
        FAIL() << "nothing raised";
    } catch (const COMError& e) {
        EXPECT_STREQ(e.what(), "Can't query: HRESULT value 80004002");
        EXPECT_EQ(e.hresult(), E_NOINTERFACE);
    }
    try {
        checkResult(E_NOINTERFACE);
        FAIL() << "nothing raised";
    } catch (const COMError& e) {
        EXPECT_STREQ(e.what(), "HRESULT value 80004002");
    }
}

TEST(ExceptionToHResult, GivesEFailForEverythingWithoutAnHResult)
{
    EXPECT_EQ(boundaryResultOf(std::runtime_error("Path length exceeds MAX_PATH")), E_FAIL);
    EXPECT_EQ(boundaryResultOf(MonkeysAudioError(1002, "Can't open file")), E_FAIL);
    EXPECT_EQ(boundaryResultOf(boost::bad_numeric_cast()), E_FAIL);
    EXPECT_EQ(boundaryResultOf(std::bad_alloc()), E_OUTOFMEMORY);
    EXPECT_EQ(boundaryResultOf(COMError(static_cast<HRESULT>(0x80040209))), static_cast<HRESULT>(0x80040209));
}

TEST(ComBoundary, ReturnsWhatTheBodyGives)
{
    EXPECT_EQ(comBoundary([] { return S_FALSE; }), S_FALSE);
}

TEST(ComBoundaryCatchAll, TurnsForeignExceptionsIntoEFail)
{
    EXPECT_EQ(comBoundaryCatchAll([]() -> HRESULT { throw 42; }), E_FAIL);
    EXPECT_EQ(comBoundaryCatchAll([]() -> HRESULT { throw COMError(E_ABORT); }), E_ABORT);
}

TEST(WindowsError, ComposesTheMessageWithTheSystemText)
{
    const WindowsError error(ERROR_ACCESS_DENIED, "Can't open key");
    const std::string system = error.systemMessage();
    ASSERT_FALSE(system.empty());
    EXPECT_NE(system.back(), '\n') << "the line break must be cut off";
    EXPECT_NE(system.find("ccess"), std::string::npos) << system;
    EXPECT_EQ(std::string(error.what()), "Can't open key: " + system);
}

TEST(WindowsError, ComposesOnceAndKeepsTheText)
{
    const WindowsError error(ERROR_FILE_NOT_FOUND, "");
    const char* first = error.what();
    EXPECT_EQ(first, error.what()) << "the composed text is kept, not rebuilt";
    EXPECT_EQ(std::string(first), error.systemMessage());
}

TEST(WindowsError, FallsBackToTheNumberWhenTheSystemHasNoText)
{
    const WindowsError error(0x3FFFFFF0, "Can't do it");
    EXPECT_STREQ(error.what(), "Can't do it: Windows error 0x3ffffff0");
}

TEST(WindowsError, DescribesNetworkErrorsFromTheNetworkMessageModule)
{
    // 2102 is NERR_WkstaNotStarted. Where the system has no network message
    // module the text is the numeric fallback, never a text of the general
    // message table.
    const WindowsError error(2102, "Can't reach");
    const std::string text = error.systemMessage();
    HMODULE netmsg = LoadLibraryA("netmsg.dll");
    if (netmsg) {
        char* buffer = nullptr;
        const DWORD length =
            FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                           netmsg, 2102, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
        const std::string expected = length ? std::string(buffer) : "Windows error 0x836";
        LocalFree(buffer);
        FreeLibrary(netmsg);
        EXPECT_EQ(text, expected);
    } else {
        EXPECT_EQ(text, "Windows error 0x836");
    }
}

TEST(WindowsError, HResultKeepsZeroAndNegativeCodes)
{
    EXPECT_EQ(WindowsError(0u, "x").hresult(), 0);
    EXPECT_EQ(WindowsError(static_cast<DWORD>(E_ACCESSDENIED), "x").hresult(), E_ACCESSDENIED);
    EXPECT_EQ(WindowsError(0x12345u, "x").hresult(), static_cast<HRESULT>(0x80072345));
}

TEST(WindowsError, TakesTheLastErrorWhenNoCodeIsGiven)
{
    SetLastError(ERROR_INVALID_HANDLE);
    const WindowsError error("Can't wait");
    EXPECT_EQ(error.code, static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
}

TEST(MonkeysAudioError, ComposesTheTextForItsCode)
{
    EXPECT_STREQ(MonkeysAudioError(1002, "Can't open file \"a.ape\"").what(),
                 "Can't open file \"a.ape\": invalid input file");
    EXPECT_STREQ(MonkeysAudioError(-1, "x").what(), "x: undefined");
    EXPECT_STREQ(MonkeysAudioError(1014, "x").what(), "x: Unknown error value");
    EXPECT_EQ(MonkeysAudioError(5000, "x").code, 5000);
}

TEST(CodecErrorText, KnowsEveryCodeOfTheTable)
{
    EXPECT_STREQ(codecErrorText(1004), "input file file too large");
    EXPECT_STREQ(codecErrorText(0), "Bla Bla");
    EXPECT_STREQ(codecErrorText(-1), "undefined");
    EXPECT_STREQ(codecErrorText(7), "Unknown error value");
    EXPECT_STREQ(codecErrorText(4001), "skipped...");
    EXPECT_STREQ(codecErrorText(6000), "APE compress too much data");
}

} // namespace
