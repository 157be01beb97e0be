#include "monkeysaudio/CodecLibrary.h"

#include <exception>

#include "monkeysaudio/MonkeysAudioError.h"
#include "monkeysaudio/PathNames.h"
#include "support/ThisModule.h"

void CodecLibrary::load()
{
    loadBesideModuleOrByName();
    try {
        checkInterface();
    } catch (...) {
        getVersionNumber = nullptr;
        getInterfaceCompatibility = nullptr;
        try {
            library.free();
        } catch (const std::exception&) {
            // The check's error is the one worth reporting; a library that
            // will not unload stays mapped.
        }
        throw;
    }
}

void CodecLibrary::loadBesideModuleOrByName()
{
    try {
        const oryx::Library self(thisModule);
        library.load(joinPath(parentDirectory(self.fileName()), libraryName));
    } catch (const std::exception&) {
        // No usable copy beside the module: the loader's search order decides,
        // and its error is the one the caller sees.
        library.load(libraryName);
    }
}

void CodecLibrary::checkInterface()
{
    getVersionNumber = library.entryPoint<decltype(getVersionNumber)>("GetVersionNumber");
    getInterfaceCompatibility = library.entryPoint<decltype(getInterfaceCompatibility)>("GetInterfaceCompatibility");
    constexpr int showWarnings = 1;
    const int result = getInterfaceCompatibility(interfaceVersion, showWarnings, nullptr);
    if (result != 0)
        throw MonkeysAudioError(result, "Interface version mismatch");
}
