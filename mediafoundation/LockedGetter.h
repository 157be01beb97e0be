#pragma once

#include <type_traits>

#include <windows.h>

#include <mferror.h>

#include "support/AutoLock.h"
#include "support/CriticalSection.h"

// The getters of the source and its stream share one shape, since every
// call answers MF_E_SHUTDOWN once the object is shut down: E_POINTER for a
// null `out` (a pointer `*out` is nulled first); then, under `lock`,
// MF_E_SHUTDOWN once `isShutdown` is set, else what `answer()` returns
// having filled `*out`. `lock` must be the one that guards `isShutdown`.
template <typename Value, typename Answer>
HRESULT lockedGet(oryx::CriticalSection& lock, const bool& isShutdown, Value* out, Answer&& answer)
{
    if (!out)
        return E_POINTER;
    if constexpr (std::is_pointer_v<Value>)
        *out = nullptr;
    oryx::AutoLock locked(lock);
    if (isShutdown)
        return MF_E_SHUTDOWN;
    return answer();
}

// An answer for lockedGet: `object`, with a reference for the caller.
template <typename Interface>
HRESULT handOut(Interface* object, Interface** out)
{
    *out = object;
    object->AddRef();
    return S_OK;
}
