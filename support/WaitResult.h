#pragma once

#include <windows.h>

namespace oryx {

// How a wait on kernel objects ended. A mutex whose owner ended without
// releasing it is Abandoned, and the waiter then owns it.
enum class WaitResult {
    Timeout = 0,
    Abandoned = 1,
    Signalled = 2,
};

// The outcome of a wait on several handles and the index of the handle that
// ended it (0 for a time-out).
struct MultiWaitResult {
    WaitResult result;
    DWORD index;
};

} // namespace oryx
