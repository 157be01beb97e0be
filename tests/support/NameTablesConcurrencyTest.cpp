// A process whose first lookups come from several threads at once: each
// table must be read exactly once and be complete for every thread. Run on
// its own, since each table is read once per process.

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/Diagnostics.h"
#include "tests/support/NameFileWriter.h"
#include "tests/support/VendorKeyScope.h"

using namespace oryx;

namespace {

// Large enough that reading takes far longer than starting the threads, so
// that a reader arriving second really overlaps the first one's reading.
constexpr int entryCount = 20000;
constexpr int threadCount = 8;

GUID guidNumber(int i)
{
    GUID guid = {0x0BAD0000u + static_cast<unsigned long>(i), 0x1234, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x42}};
    return guid;
}

std::string bracedGuid(int i)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08lX-1234-4000-8000-000000000042}", 0x0BAD0000ul + i);
    return text;
}

HRESULT hresultNumber(int i)
{
    return static_cast<HRESULT>(0xA0040000u + static_cast<unsigned>(i));
}

class NameTablesConcurrency : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        VendorKeyScope::clear();
        std::string guids;
        std::string hresults;
        for (int i = 0; i < entryCount; ++i) {
            guids += bracedGuid(i) + " GUID_" + std::to_string(i) + '\n';
            char value[16];
            std::snprintf(value, sizeof value, "%08X", static_cast<unsigned>(hresultNumber(i)));
            hresults += std::string(value) + " HR_" + std::to_string(i) + " \"entry\"\n";
        }
        guidPath = NameFileWriter::besideProgram("ConcurrencyTest-GUIDs.txt");
        hresultPath = NameFileWriter::besideProgram("ConcurrencyTest-HRESULTs.txt");
        NameFileWriter::write(guidPath, guids);
        NameFileWriter::write(hresultPath, hresults);
        NameFileWriter::record(guidPath, hresultPath);
    }

    static void TearDownTestSuite()
    {
        VendorKeyScope::clear();
        DeleteFileA(guidPath.c_str());
        DeleteFileA(hresultPath.c_str());
    }

    static std::string guidPath;
    static std::string hresultPath;
};

std::string NameTablesConcurrency::guidPath;
std::string NameTablesConcurrency::hresultPath;

TEST_F(NameTablesConcurrency, EveryThreadOfTheFirstLookupsSeesTheWholeTable)
{
    std::atomic<int> waiting{threadCount};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] {
            // All threads leave the starting line together.
            --waiting;
            while (waiting.load() > 0)
                std::this_thread::yield();
            // Half start with GUIDs, half with HRESULTs, so both tables see
            // concurrent first use.
            for (int round = 0; round < 2; ++round) {
                const int last = entryCount - 1;
                if ((t + round) % 2 == 0) {
                    if (guidName(guidNumber(last), true) != "GUID_" + std::to_string(last) ||
                        guidName(guidNumber(t), true) != "GUID_" + std::to_string(t))
                        ++wrong;
                } else {
                    if (describeHRESULT(hresultNumber(last)) != "HR_" + std::to_string(last) ||
                        describeHRESULT(hresultNumber(t)) != "HR_" + std::to_string(t))
                        ++wrong;
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0) << "lookups answered from a table that was not yet complete";

    for (int i = 0; i < entryCount; i += 997) {
        EXPECT_EQ(guidName(guidNumber(i), true), "GUID_" + std::to_string(i));
        EXPECT_EQ(describeHRESULT(hresultNumber(i)), "HR_" + std::to_string(i));
    }
}

} // namespace
