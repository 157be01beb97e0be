#pragma once

// How Explorer reaches a shell handler for an .ape file: the class the
// registry names for it, initialised with a read-only stream on the file.
#include <string>

#include <windows.h>

#include <objbase.h>
#include <propsys.h>
#include <shlwapi.h>

#include "support/COMPtr.h"
#include "support/Diagnostics.h"
#include "tests/common/RegistryProbe.h"
#include "tests/monkeysaudio/RegisteredModule.h"

namespace shellhandler {

// The handler whose class identifier is the default value of `key`.
inline oryx::COMPtr<IInitializeWithStream> registeredAt(const char* key)
{
    CLSID clsid{};
    oryx::checkResult(CLSIDFromString(registered::wide(registryprobe::valueOf(key)).c_str(), &clsid),
                      std::string("no handler registered at ") + key);
    return oryx::COMPtr<IInitializeWithStream>(clsid);
}

inline oryx::COMPtr<IStream> fileStream(const std::string& path)
{
    oryx::COMPtr<IStream> stream;
    oryx::checkResult(SHCreateStreamOnFileEx(registered::wide(path).c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, 0,
                                             FALSE, nullptr, stream.receive()),
                      "can't open " + path);
    return stream;
}

} // namespace shellhandler
