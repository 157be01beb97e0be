#include "monkeysaudio/SourceRegistration.h"

#include <string>

#include <dshow.h>
#include <shlobj.h>

#include "com/SharedValueRegistrar.h"
#include "monkeysaudio/SourceIdentifiers.h"
#include "support/ComBoundary.h"
#include "support/Diagnostics.h"
#include "support/RegistryKey.h"

namespace {

const REGPINTYPES pcmAudio = {&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM};

// Flags, instances, media types, mediums, pin category.
const REGFILTERPINS2 outputPin = {REG_PINFLAG_B_OUTPUT, 1, 1, &pcmAudio, 0, nullptr, nullptr};

// Where the platform looks up the source filter of a file by its extension.
const char extensionKey[] = "Software\\Classes\\Media Type\\Extensions\\.ape";
// Where the media player lists the file types it offers to open.
const char playerTypesKey[] = "Software\\Microsoft\\MediaPlayer\\Player\\Extensions\\Types";
const char playerDescriptionsKey[] = "Software\\Microsoft\\MediaPlayer\\Player\\Extensions\\Descriptions";
const char filePattern[] = "*.ape";
const char fileDescription[] = "Monkey's Audio File (*.ape)";

// The braced upper-case form the platform writes and reads GUIDs in.
std::string registryText(const GUID& guid)
{
    return oryx::guidName(guid, false);
}

void setValue(const char* keyName, const std::string& valueName, const std::string& value)
{
    oryx::RegistryKey key;
    key.create(HKEY_LOCAL_MACHINE, keyName);
    key.setString(valueName, value);
}

void notifyAssociationsChanged()
{
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

// Every write replaces, so registering again gives the same values. What
// another source filter had there is kept under our class key, where the
// package's uninstaller finds it to put back.
void registerExtension()
{
    const oryx::SharedValueRegistrar registrar(sourceClassId);
    registrar.claim(extensionKey, "Media Type", registryText(MEDIATYPE_Stream));
    registrar.claim(extensionKey, "Subtype", registryText(apeStreamSubtype));
    registrar.claim(extensionKey, "Source Filter", registryText(sourceClassId));
    notifyAssociationsChanged();

    const std::string valueName = registryText(playerExtensionValueName);
    setValue(playerTypesKey, valueName, filePattern);
    setValue(playerDescriptionsKey, valueName, fileDescription);
}

} // namespace

const oryx::FilterRegistration sourceFilterRegistration = {MERIT_NORMAL, &outputPin, 1, nullptr};

HRESULT registerServer(const oryx::COMServer& server, HMODULE module)
{
    const HRESULT classes = server.registerClasses(module);
    const HRESULT extension = oryx::comBoundary([] {
        registerExtension();
        return S_OK;
    });
    return FAILED(classes) ? classes : extension;
}

HRESULT unregisterServer(const oryx::COMServer& server)
{
    // An installed machine keeps its registration: only a developer's may
    // lose it.
    if (!oryx::isDevelopmentSystem())
        return E_NOTIMPL;
    const HRESULT classes = server.unregisterClasses();
    notifyAssociationsChanged();
    return classes;
}
