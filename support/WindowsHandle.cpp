#include "support/WindowsHandle.h"

#include <exception>

#include "support/WindowsError.h"

namespace oryx {

WindowsHandle::WindowsHandle(HANDLE handle) : owned(handle)
{
}

WindowsHandle::~WindowsHandle()
{
    try {
        close();
    } catch (const std::exception&) {
        // Destructors never raise; the handle is given up either way.
    }
}

bool WindowsHandle::isValid() const
{
    return owned != nullptr && owned != INVALID_HANDLE_VALUE;
}

void WindowsHandle::close()
{
    if (!isValid())
        return;
    const HANDLE closing = owned;
    // Given up before closing: a failed close is not retried later, which
    // could close a handle value the system has since handed to someone else.
    owned = INVALID_HANDLE_VALUE;
    if (!CloseHandle(closing))
        throw WindowsError("Error while closing handle");
}

void WindowsHandle::adopt(HANDLE handle)
{
    close();
    owned = handle;
}

WaitResult WindowsHandle::wait(DWORD milliseconds) const
{
    switch (WaitForSingleObject(owned, milliseconds)) {
    case WAIT_OBJECT_0:
        return WaitResult::Signalled;
    case WAIT_ABANDONED:
        return WaitResult::Abandoned;
    case WAIT_TIMEOUT:
        return WaitResult::Timeout;
    default:
        throw WindowsError("Error while retrieving handle state");
    }
}

bool WindowsHandle::isSignalled() const
{
    return wait(0) == WaitResult::Signalled;
}

MultiWaitResult waitForAny(DWORD count, const HANDLE* handles, bool waitAll, DWORD milliseconds)
{
    const DWORD result = WaitForMultipleObjects(count, handles, waitAll, milliseconds);
    if (result < WAIT_OBJECT_0 + count)
        return {WaitResult::Signalled, result - WAIT_OBJECT_0};
    if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + count)
        return {WaitResult::Abandoned, result - WAIT_ABANDONED_0};
    if (result == WAIT_TIMEOUT)
        return {WaitResult::Timeout, 0};
    throw WindowsError("Multi wait failed");
}

} // namespace oryx
