// An empty module that tests load from a directory of their choice and record
// as the system's own module, to control what lies "beside the module".
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
