#pragma once

#include <windows.h>

#include <objbase.h>

// The rule the shell's handlers share for IInitializeWithStream::Initialize,
// called under the handler's lock with its `initialized` flag: the interface
// allows one call per object, whatever that call answered, and the handlers
// only read. S_OK means the call may go on with its stream.
inline HRESULT beginInitialize(bool& initialized, DWORD mode)
{
    if (initialized)
        return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
    initialized = true;
    return (mode & (STGM_WRITE | STGM_READWRITE)) ? STG_E_ACCESSDENIED : S_OK;
}
