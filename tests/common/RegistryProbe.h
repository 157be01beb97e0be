#pragma once

// Reading what registration left in the registry and the filter mapper, for
// the tests of the generic registration and of the module's own.
#include <map>
#include <string>

#include <dshow.h>

#include "support/COMPtr.h"
#include "support/HResults.h"
#include "support/RegistryKey.h"

namespace registryprobe {

inline bool keyExists(const std::string& path)
{
    return oryx::RegistryKey::keyExists(HKEY_LOCAL_MACHINE, path);
}

// The value, or "<missing>" when the key or the value is absent.
inline std::string valueOf(const std::string& path, const char* name = nullptr)
{
    oryx::RegistryKey key;
    if (!key.open(HKEY_LOCAL_MACHINE, path, KEY_READ) || !key.valueExists(name))
        return "<missing>";
    return key.string(name);
}

inline void setDefault(const std::string& path, const char* value)
{
    oryx::RegistryKey key;
    key.create(HKEY_LOCAL_MACHINE, path);
    key.setString(static_cast<const char*>(nullptr), value);
}

inline void deleteTreeIfPresent(const std::string& path)
{
    const std::size_t split = path.rfind('\\');
    oryx::RegistryKey parent;
    if (parent.open(HKEY_LOCAL_MACHINE, path.substr(0, split), KEY_ALL_ACCESS) &&
        oryx::RegistryKey::keyExists(parent.handle(), path.substr(split + 1)))
        parent.deleteTree(path.substr(split + 1));
}

// Every key and value below `path`, as "subkey path|value name" -> data.
inline void collect(const oryx::RegistryKey& key, const std::string& prefix, std::map<std::string, std::string>& into)
{
    char name[300];
    BYTE data[1024];
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = sizeof name;
        DWORD dataLength = sizeof data;
        DWORD type = 0;
        if (RegEnumValueA(key.handle(), i, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS)
            break;
        into[prefix + "|" + name] = std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), dataLength);
    }
    for (const oryx::SubkeyInfo& subkey : key.subkeys()) {
        const std::string path = prefix + "\\" + subkey.name;
        into[path] = "";
        collect(oryx::RegistryKey(key.handle(), subkey.name, KEY_READ), path, into);
    }
}

inline std::map<std::string, std::string> snapshot(const std::string& path)
{
    std::map<std::string, std::string> result;
    oryx::RegistryKey key;
    if (key.open(HKEY_LOCAL_MACHINE, path, KEY_READ))
        collect(key, path, result);
    return result;
}

// Whether the filter mapper lists `clsid` among the filters of at least
// `merit` that put out `majorType`/`subtype`.
inline bool mapperFinds(const CLSID& clsid, const GUID& majorType, const GUID& subtype, DWORD merit = MERIT_DO_NOT_USE)
{
    oryx::COMPtr<IFilterMapper2> mapper(CLSID_FilterMapper2);
    const GUID outputType[2] = {majorType, subtype};
    oryx::COMPtr<IEnumMoniker> found;
    oryx::checkResult(mapper->EnumMatchingFilters(found.receive(), 0, TRUE, merit, FALSE, 0, nullptr, nullptr, nullptr,
                                                  FALSE, TRUE, 1, outputType, nullptr, nullptr),
                      "Can't enumerate filters");
    oryx::COMPtr<IMoniker> moniker;
    while (found->Next(1, moniker.receive(), nullptr) == S_OK) {
        oryx::COMPtr<IPropertyBag> properties;
        oryx::checkResult(
            moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(properties.receive())));
        VARIANT value;
        VariantInit(&value);
        V_VT(&value) = VT_BSTR;
        if (SUCCEEDED(properties->Read(L"CLSID", &value, nullptr))) {
            CLSID listed{};
            const bool same = SUCCEEDED(CLSIDFromString(V_BSTR(&value), &listed)) && IsEqualCLSID(listed, clsid);
            VariantClear(&value);
            if (same)
                return true;
        }
    }
    return false;
}

} // namespace registryprobe
