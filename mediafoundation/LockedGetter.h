#pragma once

#include <type_traits>

#include <windows.h>

#include <mferror.h>

#include "support/AutoLock.h"
#include "support/CriticalSection.h"

// The getters of the source and its stream share one shape, since every
// call answers MF_E_SHUTDOWN once the object is shut down, whatever its
// arguments: a pointer `*out` is nulled (when `out` is not null); then,
// under `lock`, MF_E_SHUTDOWN once `isShutdown` is set, E_POINTER for a
// null `out`, else what `answer()` returns having filled `*out`. `lock` must
// be the one that guards `isShutdown`.
template <typename Value, typename Answer>
HRESULT lockedGet(oryx::CriticalSection& lock, const bool& isShutdown, Value* out, Answer&& answer)
{
    if constexpr (std::is_pointer_v<Value>) {
        if (out)
            *out = nullptr;
    }
    oryx::AutoLock locked(lock);
    if (isShutdown)
        return MF_E_SHUTDOWN;
    if (!out)
        return E_POINTER;
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
