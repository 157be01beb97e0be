#include "support/Thread.h"

#include "support/AutoLock.h"
#include "support/WindowsError.h"

namespace oryx {

Thread::Thread() = default;

Thread::~Thread()
{
    if (!isValid())
        return;
    try {
        join();
    } catch (...) {
        // Destructors never raise; the handle is closed all the same.
    }
}

void Thread::start(bool suspended)
{
    AutoLock lock(threadMutex);
    close();
    // Set before the thread exists: a body that ends at once clears it
    // again, where setting it afterwards would mark an ended thread running.
    running = true;
    const HANDLE thread = CreateThread(nullptr, 0, entry, this, suspended ? CREATE_SUSPENDED : 0, &threadId);
    if (!thread) {
        running = false;
        throw WindowsError("Can't create thread");
    }
    adopt(thread);
}

DWORD Thread::join()
{
    AutoLock lock(threadMutex);
    if (!isValid())
        return 0;
    if (WaitForSingleObject(handle(), INFINITE) == WAIT_FAILED)
        throw WindowsError("Error waiting for thread exit");
    DWORD exitCode = 0;
    if (!GetExitCodeThread(handle(), &exitCode))
        throw WindowsError("Can't retrieve the thread's exit code");
    return exitCode;
}

bool Thread::isRunning() const
{
    AutoLock lock(threadMutex);
    return running;
}

DWORD WINAPI Thread::entry(void* parameter)
{
    Thread* thread = static_cast<Thread*>(parameter);
    DWORD exitCode = 0;
    try {
        exitCode = thread->run();
    } catch (...) {
        // Nobody is there to catch it: an escaping exception would end the
        // process. The body's failure shows as exit code 0.
        exitCode = 0;
    }
    thread->running = false;
    return exitCode;
}

} // namespace oryx
