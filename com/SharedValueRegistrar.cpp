#include "com/SharedValueRegistrar.h"

#include <algorithm>
#include <vector>

#include "com/ClassRegistrar.h"
#include "support/RegistryKey.h"

namespace oryx {

namespace {

const char classIdsKeyPath[] = "Software\\Classes\\CLSID\\";
const char replacedKeyName[] = "Replaced";
const char createdKeyName[] = "Created";

// Case matters to nobody in the registry, and other tools write GUIDs in
// lower case.
bool sameText(const std::string& a, const std::string& b)
{
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

// A value as stored: its type and bytes.
struct StoredValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

bool readValue(const RegistryKey& key, const char* name, StoredValue& out)
{
    DWORD size = 0;
    if (!key.queryValue(name, nullptr, &size, &out.type))
        return false;
    out.data.resize(size);
    if (!key.queryValue(name, out.data.data(), &size, &out.type))
        return false;
    out.data.resize(size);
    return true;
}

bool holds(const RegistryKey& key, const char* name, const std::string& value)
{
    return key.valueExists(name) && sameText(key.string(name), value);
}

// Deletes `name` under `parent` when it is there and empty.
void deleteIfEmpty(RegistryKey& parent, const std::string& name)
{
    RegistryKey key;
    if (!key.open(parent.handle(), name, KEY_READ))
        return;
    const bool empty = key.isEmpty();
    key.close();
    if (empty)
        parent.deleteKey(name);
}

// The path of the key above `path`; "" for a key right under the root.
std::string parentPath(const std::string& path)
{
    const std::size_t split = path.rfind('\\');
    return split == std::string::npos ? std::string() : path.substr(0, split);
}

} // namespace

SharedValueRegistrar::SharedValueRegistrar(const CLSID& owner)
    : keptPath(classIdsKeyPath + ClassRegistrar::classKeyName(owner) + "\\KeptValues")
{
}

std::string SharedValueRegistrar::keptName(const std::string& keyPath)
{
    std::string name = keyPath;
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

void SharedValueRegistrar::claim(const std::string& keyPath, const char* valueName, const std::string& value) const
{
    // Every key on the way that is not there yet is ours to take away again.
    std::vector<std::string> missing;
    for (std::string path = keyPath; !path.empty() && !RegistryKey::keyExists(HKEY_LOCAL_MACHINE, path);
         path = parentPath(path))
        missing.push_back(path);
    RegistryKey key;
    key.create(HKEY_LOCAL_MACHINE, keyPath);
    if (!missing.empty()) {
        RegistryKey created;
        created.create(HKEY_LOCAL_MACHINE, keptPath + "\\" + createdKeyName);
        for (const std::string& path : missing)
            created.setString(keptName(path), "");
    }
    // What another program wrote, even over a value we kept before, is what
    // it expects back: ours never is.
    StoredValue theirs;
    if (readValue(key, valueName, theirs) && !holds(key, valueName, value)) {
        RegistryKey kept;
        kept.create(HKEY_LOCAL_MACHINE, keptPath + "\\" + replacedKeyName + "\\" + keptName(keyPath));
        kept.setValue(valueName, theirs.data.data(), static_cast<DWORD>(theirs.data.size()), theirs.type);
    }
    key.setString(valueName, value);
}

void SharedValueRegistrar::release(const std::string& keyPath, const char* valueName, const std::string& value) const
{
    const std::string name = keptName(keyPath);
    RegistryKey keptValues;
    const std::string replacedPath = keptPath + "\\" + replacedKeyName;
    StoredValue theirs;
    bool kept = false;
    if (keptValues.open(HKEY_LOCAL_MACHINE, replacedPath + "\\" + name, KEY_ALL_ACCESS))
        kept = readValue(keptValues, valueName, theirs);

    RegistryKey key;
    if (key.open(HKEY_LOCAL_MACHINE, keyPath, KEY_ALL_ACCESS) && holds(key, valueName, value)) {
        if (kept)
            key.setValue(valueName, theirs.data.data(), static_cast<DWORD>(theirs.data.size()), theirs.type);
        else
            key.deleteValue(valueName);
    }
    if (kept) {
        keptValues.deleteValue(valueName);
        keptValues.close();
        RegistryKey replaced(HKEY_LOCAL_MACHINE, replacedPath, KEY_ALL_ACCESS);
        deleteIfEmpty(replaced, name);
    }

    key.close();

    // Keys we made go once nothing is left in them, from the value's key up.
    RegistryKey created;
    if (!created.open(HKEY_LOCAL_MACHINE, keptPath + "\\" + createdKeyName, KEY_ALL_ACCESS))
        return;
    for (std::string path = keyPath; !path.empty() && created.valueExists(keptName(path)); path = parentPath(path)) {
        RegistryKey made;
        if (made.open(HKEY_LOCAL_MACHINE, path, KEY_READ)) {
            if (!made.isEmpty())
                return;
            made.close();
            RegistryKey(HKEY_LOCAL_MACHINE, parentPath(path), KEY_ALL_ACCESS)
                .deleteKey(path.substr(path.rfind('\\') + 1));
        }
        created.deleteValue(keptName(path));
    }
}

} // namespace oryx
