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
#include "com/SharedValueRegistrar.h"
#include "mediafoundation/ApeByteStreamHandler.h"
#include "mediafoundation/MediaFoundationIdentifiers.h"
#include "support/ComBoundary.h"
#include "support/Diagnostics.h"
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

// Each key may hold other programs' handlers, and may have been there
// before us: only our value goes, and a key only when we made it.
void registerHandler()
{
    const oryx::SharedValueRegistrar registrar(byteStreamHandlerClassId);
    const std::string name = oryx::guidName(byteStreamHandlerClassId, false);
    for (const char* key : handlerKeys)
        registrar.claim(std::string(handlersKey) + "\\" + key, name.c_str(), handlerDescription);
}

void unregisterHandler()
{
    const oryx::SharedValueRegistrar registrar(byteStreamHandlerClassId);
    const std::string name = oryx::guidName(byteStreamHandlerClassId, false);
    for (const char* key : handlerKeys)
        registrar.release(std::string(handlersKey) + "\\" + key, name.c_str(), handlerDescription);
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

// The handler keys first: what they kept lives under the class key.
STDAPI DllUnregisterServer()
{
    const HRESULT handlers = oryx::comBoundary([] {
        unregisterHandler();
        return S_OK;
    });
    const HRESULT hr = oryx::theServer->unregisterClasses();
    return FAILED(handlers) ? handlers : hr;
}
