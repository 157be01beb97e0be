// MACDllC.dll: the codec core plus the ten exports (api/CodecApi.cpp); the names
// come from MACDllC.def. Nothing to set up per process or thread.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(instance);
    return TRUE;
}
