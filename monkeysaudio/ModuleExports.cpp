// The module's class table and its registration entry points; the other
// exports are com/ServerExports.cpp. They live in the module itself, not in
// the core library, so that test programs linking the core get their own
// server and no exports.
#include <array>

#include <windows.h>

#include "com/COMServer.h"
#include "com/ClassInfo.h"
#include "monkeysaudio/MonkeysAudioFileSource.h"
#include "monkeysaudio/SourceIdentifiers.h"
#include "monkeysaudio/SourceRegistration.h"
#include "support/ThisModule.h"

namespace {

// The classes this module serves, in the order registration walks them.
const std::array classTable{
    oryx::ClassInfo{&sourceClassId, 0x20 /* InprocServer32, "Both" */, sourceClassName,
                    &MonkeysAudioFileSource::createInstance, &sourceFilterRegistration, nullptr},
};

oryx::COMServer server(classTable.data(), classTable.size());

// Static initialisation runs at process attach, before the host can call any
// export, and the table never changes afterwards.
[[maybe_unused]] oryx::COMServer* const installedServer = oryx::theServer = &server;

} // namespace

STDAPI DllRegisterServer()
{
    return registerServer(*oryx::theServer, thisModule);
}

STDAPI DllUnregisterServer()
{
    return unregisterServer(*oryx::theServer);
}
