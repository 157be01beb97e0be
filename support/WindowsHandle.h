#pragma once

#include <boost/noncopyable.hpp>
#include <windows.h>

#include "support/WaitResult.h"

namespace oryx {

// Owner of one kernel handle; both 0 and INVALID_HANDLE_VALUE count as no
// handle. The handle is closed exactly once: by close(), by adopting
// another, or by the destructor (which swallows a close failure).
class WindowsHandle : boost::noncopyable {
public:
    WindowsHandle() = default;
    explicit WindowsHandle(HANDLE handle);
    virtual ~WindowsHandle();

    HANDLE handle() const { return owned; }
    bool isValid() const;
    void close();
    void adopt(HANDLE handle);

    WaitResult wait(DWORD milliseconds) const;
    bool isSignalled() const;

private:
    HANDLE owned = INVALID_HANDLE_VALUE;
};

// Waits for one of `count` handles (or all of them with `waitAll`); the
// index says which one ended the wait.
MultiWaitResult waitForAny(DWORD count, const HANDLE* handles, bool waitAll, DWORD milliseconds);

} // namespace oryx
