// The class table of apemf.dll and its registration entry points; the
// other exports are com/ServerExports.cpp.
//
// Besides its class, the module registers its handler where Media
// Foundation's source resolver looks for one: by extension and by MIME
// type, a value named by the class identifier under each key.
#include <array>
#include <string>

#include <windows.h>

#include "com/COMServer.h"
#include "com/ClassInfo.h"
#include "mediafoundation/ApeByteStreamHandler.h"
#include "mediafoundation/MediaFoundationIdentifiers.h"
#include "support/ComBoundary.h"
#include "support/RegistryKey.h"
#include "support/StringConversion.h"
#include "support/ThisModule.h"

namespace {

// The classes this module serves, in the order registration walks them.
const std::array classTable{
    oryx::ClassInfo{&byteStreamHandlerClassId, 0x20 /* InprocServer32, "Both" */, byteStreamHandlerClassName,
                    &ApeByteStreamHandler::createInstance, nullptr, nullptr},
};

oryx::COMServer server(classTable.data(), classTable.size());

// Static initialisation runs at process attach, before the host can call any
// export, and the table never changes afterwards.
[[maybe_unused]] oryx::COMServer* const installedServer = oryx::theServer = &server;

const char handlersKey[] = "SOFTWARE\\Microsoft\\Windows Media Foundation\\ByteStreamHandlers";
// The keys under handlersKey the handler is named in: the extension the
// resolver takes from a URL, and the MIME types a byte stream may carry.
constexpr const char* handlerKeys[] = {".ape", "audio/ape", "audio/x-ape"};
const char handlerDescription[] = "Monkey's Audio byte stream handler";

std::string classIdText()
{
    wchar_t text[40] = {};
    StringFromGUID2(byteStreamHandlerClassId, text, static_cast<int>(std::size(text)));
    return std::string(text, text + wcslen(text)); // a GUID's text is ASCII
}

void registerHandler()
{
    const std::string name = classIdText();
    for (const char* key : handlerKeys) {
        oryx::RegistryKey handlers;
        handlers.create(HKEY_LOCAL_MACHINE, std::string(handlersKey) + "\\" + key);
        handlers.setString(name.c_str(), handlerDescription);
    }
}

// Removes the value registerHandler wrote, and a key it leaves empty.
void unregisterHandler()
{
    const std::string name = classIdText();
    for (const char* key : handlerKeys) {
        oryx::RegistryKey handlers;
        const std::string path = std::string(handlersKey) + "\\" + key;
        if (!handlers.open(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS))
            continue;
        if (handlers.valueExists(name.c_str()))
            handlers.deleteValue(name.c_str());
        const bool empty = handlers.isEmpty();
        handlers.close();
        if (empty) {
            oryx::RegistryKey parent(HKEY_LOCAL_MACHINE, handlersKey, KEY_ALL_ACCESS);
            parent.deleteKey(key);
        }
    }
}

} // namespace

STDAPI DllRegisterServer()
{
    const HRESULT hr = oryx::theServer->registerClasses(thisModule);
    if (FAILED(hr))
        return hr;
    return oryx::comBoundary([] {
        registerHandler();
        return S_OK;
    });
}

STDAPI DllUnregisterServer()
{
    const HRESULT hr = oryx::theServer->unregisterClasses();
    const HRESULT handlers = oryx::comBoundary([] {
        unregisterHandler();
        return S_OK;
    });
    return FAILED(hr) ? hr : handlers;
}
