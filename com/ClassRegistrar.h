#pragma once

#include <cstdint>
#include <string>

#include <dshow.h>

#include "com/ClassInfo.h"
#include "support/COMPtr.h"

namespace oryx {

class RegistryKey;

// Writes and removes what a class table says about its classes, under
// HKEY_LOCAL_MACHINE: the class key with its server key and threading
// model, the filter mapper's entry for media filters, the shell extension
// and file-type keys, and a property handler's keys (through
// PropertyHandlerRegistrar). It knows no particular class. One registrar
// serves one registration request on the caller's thread; it creates the
// filter mapper on first need and releases it with itself. Failures raise:
// what was written before one stays, and no later record is processed.
class ClassRegistrar {
public:
    // `module` serves the classes; its file name is the server path.
    void registerClasses(const ClassInfo* classes, std::uint32_t count, HMODULE module);
    // Removes class keys, filter entries and property handlers' keys; file
    // types and the other shell extensions stay registered.
    void unregisterClasses(const ClassInfo* classes, std::uint32_t count);

    // {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx} in lower case: the class key's
    // name, and the ProgID made from a GUID.
    static std::string classKeyName(const GUID& guid);

private:
    void registerClass(RegistryKey& classes, const ClassInfo& info, const std::wstring& serverPath);
    void registerFilter(const ClassInfo& info);
    void registerFileTypes(const ClassInfo& info, const std::wstring& serverPath);
    void registerShellExtension(const RegistryKey& key, const ClassInfo& info);
    IFilterMapper2& filterMapper();

    COMPtr<IFilterMapper2> mapper;
};

} // namespace oryx
