#include <windows.h>

#include "support/ThisModule.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/)
{
    if (reason == DLL_PROCESS_ATTACH)
        thisModule = instance;
    return TRUE;
}
