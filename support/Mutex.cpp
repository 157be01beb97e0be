#include "support/Mutex.h"

#include "support/WindowsError.h"

namespace oryx {

Mutex::Mutex(bool initiallyOwned)
{
    const HANDLE mutex = CreateMutexA(nullptr, initiallyOwned, nullptr);
    if (!mutex)
        throw WindowsError("Error in CreateMutex");
    adopt(mutex);
}

void Mutex::lock()
{
    // Signalled or abandoned, the mutex is ours now; with no time-out
    // nothing else can come back.
    wait(INFINITE);
}

void Mutex::unlock()
{
    if (!ReleaseMutex(handle()))
        throw WindowsError("Error in ReleaseMutex");
}

} // namespace oryx
