#include "WorkerThreadsDrain.h"

#include <algorithm>

#include <tlhelp32.h>

#include "support/WindowsHandle.h"

namespace apeplay {

WorkerThreadsDrain::~WorkerThreadsDrain()
{
    const ULONGLONG start = GetTickCount64();
    ULONGLONG changed = start;
    std::vector<DWORD> threads = otherThreads();
    for (ULONGLONG now = start; now - changed < settled && now - start < limit; now = GetTickCount64()) {
        Sleep(5);
        std::vector<DWORD> seen = otherThreads();
        if (seen != threads) {
            threads = std::move(seen);
            changed = GetTickCount64();
        }
    }
}

std::vector<DWORD> WorkerThreadsDrain::otherThreads()
{
    // A failed snapshot counts no threads: the wait then ends at once.
    std::vector<DWORD> threads;
    const oryx::WindowsHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot.isValid())
        return threads;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot.handle(), &entry); more; more = Thread32Next(snapshot.handle(), &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId() && entry.th32ThreadID != GetCurrentThreadId())
            threads.push_back(entry.th32ThreadID);
    std::sort(threads.begin(), threads.end());
    return threads;
}

} // namespace apeplay
