#pragma once
// Holds the end of the process back, for at most `limit` milliseconds, until
// the set of its threads has stayed the same for `settled` milliseconds.
//
// Media Foundation's work queues start worker threads up to the moment
// MFShutdown returns, and those end on their own as soon as they find the
// queues gone. Wine terminates a process's remaining threads with a signal,
// and a thread still starting up when that signal arrives takes the whole
// process down with SIGSEGV in the signal handler, after all the work is
// done (reproduced with a program that only queues Media Foundation work
// items and exits: 5 crashes in 1,500 runs). Threads that are idle when the
// process ends are harmless. Waiting until no thread starts or ends any more
// costs the settling time once; on Windows the threads end the same way.

#include <vector>

#include <windows.h>

namespace apeplay {

class WorkerThreadsDrain {
public:
    WorkerThreadsDrain() = default;
    WorkerThreadsDrain(const WorkerThreadsDrain&) = delete;
    WorkerThreadsDrain& operator=(const WorkerThreadsDrain&) = delete;
    ~WorkerThreadsDrain();

private:
    static std::vector<DWORD> otherThreads(); // of this process, the caller's excepted, in order
    static constexpr DWORD limit = 2000;
    static constexpr DWORD settled = 50;
};

} // namespace apeplay
