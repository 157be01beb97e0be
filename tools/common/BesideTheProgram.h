#pragma once
// What the Windows measuring tools share: a precise clock, the program's own
// folder, and the source filter made through the class object of the
// apesrc.dll that lies beside the program (nothing registered).
#include <string>

#include <windows.h>

#include <dshow.h>

#include "monkeysaudio/SourceIdentifiers.h"
#include "support/COMError.h"
#include "support/COMPtr.h"

namespace tools {

// Seconds from an arbitrary start, at the performance counter's resolution.
inline double now()
{
    static const double period = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return 1.0 / static_cast<double>(frequency.QuadPart);
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * period;
}

inline std::string programDirectory()
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length);
    return directory.substr(0, directory.find_last_of("\\/"));
}

// Raises when the module or its class object is missing, as COM would fail.
inline oryx::COMPtr<IBaseFilter> createSourceBesideTheProgram()
{
    static const HMODULE module = LoadLibraryA("apesrc.dll");
    const auto getClassObject = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (!getClassObject)
        throw oryx::COMError(REGDB_E_CLASSNOTREG, "Can't load \"apesrc.dll\" beside the program");
    oryx::COMPtr<IClassFactory> factory;
    oryx::checkResult(getClassObject(sourceClassId, IID_IClassFactory, reinterpret_cast<void**>(factory.receive())));
    oryx::COMPtr<IBaseFilter> source;
    oryx::checkResult(factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(source.receive())));
    return source;
}

} // namespace tools
