// The exported entry points every in-process server of the system shares:
// each answers from the module's COMServer (theServer), which the module's
// class table file installs during static initialisation. The module adds
// DllRegisterServer and DllUnregisterServer, which differ per module, and
// names all of them in its .def file.
#include <cstdint>

#include <windows.h>

#include "com/COMServer.h"
#include "com/ClassInfo.h"

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    return oryx::theServer->getClassObject(clsid, iid, out);
}

STDAPI DllCanUnloadNow()
{
    return oryx::theServer->canUnloadNow();
}

// The system's own extension: a tool that knows the ClassInfo layout lists
// the served classes without creating any. cdecl, unlike the other exports.
// Both pointers must be valid; nothing is checked.
extern "C" void __cdecl DllGetClassInfos(const oryx::ClassInfo** infos, std::uint32_t* count)
{
    *infos = oryx::theServer->classTable();
    *count = oryx::theServer->classCount();
}
