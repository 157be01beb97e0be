// A process whose first lookups come from several threads at once: each
// table must be read exactly once and be complete for every thread. Run on
// its own, since each table is read once per process. The name "files" are
// named pipes served by the test, so that it can count how often each one is
// read.

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/Diagnostics.h"
#include "tests/support/NameFileWriter.h"
#include "tests/support/VendorKeyScope.h"
#include "tests/common/Watchdog.h"

using namespace oryx;

namespace {

// Large enough that reading takes far longer than starting the threads, so
// that a reader arriving second really overlaps the first one's reading.
constexpr int entryCount = 20000;
constexpr int threadCount = 4;

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

// Serves `content` to every client of a named pipe, one pipe instance per
// possible reader, and counts the clients.
class CountingPipe {
public:
    CountingPipe(std::string name, std::string content) : name(std::move(name)), content(std::move(content))
    {
        for (int i = 0; i < threadCount; ++i) {
            const HANDLE pipe = CreateNamedPipeA(this->name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT,
                                                 PIPE_UNLIMITED_INSTANCES, 1 << 16, 0, 0, nullptr);
            if (pipe == INVALID_HANDLE_VALUE) {
                ADD_FAILURE() << "Can't create pipe " << this->name;
                continue;
            }
            servers.emplace_back([this, pipe] { serve(pipe); });
        }
    }

    ~CountingPipe()
    {
        // Every instance still waiting for a reader gets one that reads
        // nothing, so that its thread ends.
        stopping = true;
        for (std::size_t i = served.load(); i < servers.size(); ++i) {
            const HANDLE client = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            if (client != INVALID_HANDLE_VALUE)
                CloseHandle(client);
        }
        for (std::thread& server : servers)
            server.join();
    }

    CountingPipe(const CountingPipe&) = delete;
    CountingPipe& operator=(const CountingPipe&) = delete;

    int reads() const { return readers.load(); }

private:
    void serve(HANDLE pipe)
    {
        if (ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
            ++served;
            if (!stopping) {
                ++readers;
                DWORD written = 0;
                WriteFile(pipe, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
                // Until the reader has everything: closing discards what is
                // still in the pipe.
                FlushFileBuffers(pipe);
            }
        }
        CloseHandle(pipe);
    }

    const std::string name;
    const std::string content;
    std::atomic<bool> stopping{false};
    std::atomic<std::size_t> served{0};
    std::atomic<int> readers{0};
    std::vector<std::thread> servers;
};

std::string guidNames()
{
    std::string text;
    for (int i = 0; i < entryCount; ++i)
        text += bracedGuid(i) + " GUID_" + std::to_string(i) + '\n';
    return text;
}

std::string hresultNames()
{
    std::string text;
    for (int i = 0; i < entryCount; ++i) {
        char value[16];
        std::snprintf(value, sizeof value, "%08X", static_cast<unsigned>(hresultNumber(i)));
        text += std::string(value) + " HR_" + std::to_string(i) + " \"entry\"\n";
    }
    return text;
}

class NameTablesConcurrency : public testing::Test {
protected:
    Watchdog watchdog{60000};
    VendorKeyScope vendorKey;
    const std::string guidPipe = "\\\\.\\pipe\\OryxGuidNames-" + std::to_string(GetCurrentProcessId());
    const std::string hresultPipe = "\\\\.\\pipe\\OryxHResultNames-" + std::to_string(GetCurrentProcessId());

    void SetUp() override { NameFileWriter::record(guidPipe, hresultPipe); }
};

// Runs `lookup(thread)` on several threads that leave a starting line
// together; returns how many of them got a wrong answer.
template <typename Lookup>
int wrongAnswersFromSimultaneousFirstUse(Lookup lookup)
{
    std::atomic<int> waiting{threadCount};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] {
            --waiting;
            while (waiting.load() > 0)
                std::this_thread::yield();
            if (!lookup(t))
                ++wrong;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    return wrong.load();
}

TEST_F(NameTablesConcurrency, EachTableIsReadOnceAndEveryThreadOfTheFirstLookupsSeesItWhole)
{
    const int last = entryCount - 1;
    CountingPipe guids(guidPipe, guidNames());
    CountingPipe hresults(hresultPipe, hresultNames());
    EXPECT_EQ(wrongAnswersFromSimultaneousFirstUse([&](int t) {
                  return guidName(guidNumber(last), true) == "GUID_" + std::to_string(last) &&
                         guidName(guidNumber(t), true) == "GUID_" + std::to_string(t);
              }),
              0)
        << "GUID names answered from a table that was not yet complete";
    EXPECT_EQ(wrongAnswersFromSimultaneousFirstUse([&](int t) {
                  return describeHRESULT(hresultNumber(last)) == "HR_" + std::to_string(last) &&
                         describeHRESULT(hresultNumber(t)) == "HR_" + std::to_string(t);
              }),
              0)
        << "HRESULT names answered from a table that was not yet complete";

    for (int i = 0; i < entryCount; i += 997) {
        EXPECT_EQ(guidName(guidNumber(i), true), "GUID_" + std::to_string(i));
        EXPECT_EQ(describeHRESULT(hresultNumber(i)), "HR_" + std::to_string(i));
    }
    EXPECT_EQ(guids.reads(), 1);
    EXPECT_EQ(hresults.reads(), 1);
}

} // namespace
