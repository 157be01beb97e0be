#include <gtest/gtest.h>

#include <vfwmsgs.h>

#include "ConsoleText.h"

namespace {

using apeplay::formatClock;
using apeplay::progressLine;

constexpr REFERENCE_TIME second = 10'000'000;

TEST(ConsoleText, ClockShowsMinutesSecondsAndTruncatedTenths)
{
    EXPECT_EQ(formatClock(0), "0:00.0");
    EXPECT_EQ(formatClock(second - 1), "0:00.9");
    EXPECT_EQ(formatClock(76'460'000), "0:07.6");
    EXPECT_EQ(formatClock(59 * second + 9 * second / 10), "0:59.9");
    EXPECT_EQ(formatClock(60 * second), "1:00.0");
    EXPECT_EQ(formatClock(3599 * second), "59:59.0");
    EXPECT_EQ(formatClock(3600 * second), "1:00:00.0");
    EXPECT_EQ(formatClock(100 * 3600 * second + 61 * second), "100:01:01.0");
    EXPECT_EQ(formatClock(-5 * second), "0:00.0");
}

TEST(ConsoleText, ProgressLineFillsTheBarInProportionAndClampsThePosition)
{
    EXPECT_EQ(progressLine(0, 10 * second, 10), "  0:00.0 / 0:10.0 [..........]   0%");
    EXPECT_EQ(progressLine(5 * second, 10 * second, 10), "  0:05.0 / 0:10.0 [#####.....]  50%");
    EXPECT_EQ(progressLine(10 * second, 10 * second, 10), "  0:10.0 / 0:10.0 [##########] 100%");
    // The clock may run past the end before the completion arrives.
    EXPECT_EQ(progressLine(12 * second, 10 * second, 10), "  0:10.0 / 0:10.0 [##########] 100%");
    EXPECT_EQ(progressLine(-second, 10 * second, 10), "  0:00.0 / 0:10.0 [..........]   0%");
    EXPECT_EQ(progressLine(second, 0, 4), "  0:00.0 / 0:00.0 [....]   0%");
    // Ten hours: position × width would overflow in 64-bit integers of 100 ns.
    const std::string line = progressLine(5 * 3600 * second, 10 * 3600 * second, 20);
    EXPECT_NE(line.find("[##########..........]  50%"), std::string::npos) << line;
}

TEST(ConsoleText, Utf8RoundTripsEveryPlane)
{
    const std::wstring text = L"Gr\u00fc\u00dfe \u4e16\u754c \U0001F3B5";
    EXPECT_EQ(apeplay::toUtf8(text), "Gr\xC3\xBC\xC3\x9F"
                                     "e \xE4\xB8\x96\xE7\x95\x8C \xF0\x9F\x8E\xB5");
    EXPECT_EQ(apeplay::fromUtf8(apeplay::toUtf8(text)), text);
    EXPECT_EQ(apeplay::toUtf8(L""), "");
}

TEST(ConsoleText, HresultTextIsOneLineEndingWithTheCode)
{
    for (const HRESULT hr :
         {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), E_FAIL, VFW_E_NOT_CONNECTED, HRESULT(0x8badf00d)}) {
        const std::string text = apeplay::hresultText(hr);
        char code[16];
        std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
        EXPECT_NE(text.find(code), std::string::npos) << text;
        EXPECT_EQ(text.find('\n'), std::string::npos) << text;
        EXPECT_EQ(text.find('\r'), std::string::npos) << text;
    }
    // A code the system knows gets its words in front of the code.
    EXPECT_GT(apeplay::hresultText(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)).size(), std::string("0x80070002").size());
}

} // namespace
