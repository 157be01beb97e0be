#pragma once

#include <windows.h>

namespace oryx {

// The body of a thread: run() returns the thread's exit code. Never
// destroyed through this interface.
class Runnable {
public:
    virtual DWORD run() = 0;

protected:
    ~Runnable() = default;
};

} // namespace oryx
