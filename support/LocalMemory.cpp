#include "support/LocalMemory.h"

#include <exception>

#include "support/WindowsError.h"

namespace oryx {

LocalMemory::LocalMemory(HLOCAL handle, bool movable) : handle(handle), lockCount(movable ? 0 : fixedMemory)
{
}

LocalMemory::~LocalMemory()
{
    try {
        free();
    } catch (const std::exception&) {
        // Destructors never raise; the block is lost to the process heap.
    }
}

void* LocalMemory::lock()
{
    if (lockCount == fixedMemory)
        return handle;
    void* address = LocalLock(handle);
    if (!address)
        throw WindowsError("Can't lock local memory handle");
    ++lockCount;
    return address;
}

bool LocalMemory::unlock()
{
    if (lockCount == fixedMemory)
        return false;
    // A last unlock also returns FALSE; only the error code tells it from a
    // failure, so it must not be left over from an earlier call.
    SetLastError(NO_ERROR);
    const BOOL stillLocked = LocalUnlock(handle);
    if (!stillLocked) {
        const DWORD code = GetLastError();
        if (code != NO_ERROR)
            throw WindowsError(code, "Can't unlock local memory handle");
    }
    --lockCount;
    return stillLocked != FALSE;
}

UINT LocalMemory::flags() const
{
    const UINT result = LocalFlags(handle);
    if (result == LMEM_INVALID_HANDLE)
        throw WindowsError("Can't query flags for local memory handle");
    return result;
}

void LocalMemory::free()
{
    if (!handle)
        return;
    while (lockCount > 0)
        unlock();
    if (LocalFree(handle))
        throw WindowsError("Can't free local memory handle");
    handle = nullptr;
}

} // namespace oryx
