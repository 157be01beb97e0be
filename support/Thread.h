#pragma once

#include <atomic>

#include <windows.h>

#include "support/Mutex.h"
#include "support/Runnable.h"
#include "support/WindowsHandle.h"

namespace oryx {

// A thread running this object's run(). Subclasses supply run(); whatever
// it raises ends the thread with exit code 0. The handle (the WindowsHandle
// base) stays open after the thread ends, so that join() can read the exit
// code, until the next start() or destruction.
//
// Destruction waits for a running thread to end of its own accord. It does
// so after the subclass is gone, though: a subclass whose run() uses its own
// members must make the thread end and join() it in its own destructor.
//
// Locks: threadMutex guards start, join and isRunning; it is a kernel mutex
// held across the whole join, so isRunning() (and a signal that asks it)
// waits until a thread being joined has ended. The thread itself clears
// `running` without it.
class Thread : public WindowsHandle, public Runnable {
public:
    Thread();
    ~Thread() override;

    void start(bool suspended = false);
    // The exit code of the last run; 0 when there never was one.
    DWORD join();
    bool isRunning() const;
    DWORD id() const { return threadId; }

private:
    static DWORD WINAPI entry(void* parameter);

    DWORD threadId = 0;
    // From start() until run() has returned. Atomic: the thread clears it
    // without threadMutex.
    std::atomic<bool> running{false};
    mutable Mutex threadMutex{false};
};

} // namespace oryx
