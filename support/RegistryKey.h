#pragma once

#include <string>
#include <vector>

#include <windows.h>

#include "support/StringRef.h"
#include "support/SubkeyInfo.h"

namespace oryx {

// The system's only access to the registry: one key, opened or created by
// this object and closed by it. Names go to the ANSI registry functions; a
// null name is the empty string, which for values means the key's default
// value. Missing keys and values are ordinary results where a caller asks
// (open, queryValue, readDword, valueExists, keyExists) and WindowsError
// with ERROR_FILE_NOT_FOUND where one is required. Used by one thread at a
// time.
//
// Keys move but never copy: a moved-from key is empty and closes nothing.
class RegistryKey {
public:
    RegistryKey() = default;
    // Raises WindowsError(ERROR_FILE_NOT_FOUND, "Registry key \"name\" not
    // found") when the key is missing.
    RegistryKey(HKEY parent, StringRef<char> name, REGSAM access);
    RegistryKey(RegistryKey&& other) noexcept;
    RegistryKey& operator=(RegistryKey&& other) noexcept;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    virtual ~RegistryKey();

    // False, leaving the key empty, when the key does not exist.
    bool open(HKEY parent, StringRef<char> name, REGSAM access);
    // An empty or null className is passed as no class; `security` and
    // `disposition` may be null.
    void create(HKEY parent, StringRef<char> name, StringRef<char> className = nullptr,
                DWORD options = REG_OPTION_NON_VOLATILE, REGSAM access = KEY_ALL_ACCESS,
                SECURITY_ATTRIBUTES* security = nullptr, DWORD* disposition = nullptr);
    void close();
    // For opening subkeys relative to this key; null when empty.
    HKEY handle() const { return hkey; }
    bool isOpened() const { return isOpen; }

    static bool keyExists(HKEY parent, StringRef<char> name);

    bool queryValue(StringRef<char> name, BYTE* data, DWORD* size, DWORD* type) const;
    void setValue(StringRef<char> name, const BYTE* data, DWORD size, DWORD type);
    // REG_SZ including its terminating NUL; a null value writes "".
    void setString(StringRef<char> name, StringRef<char> value);
    void setString(StringRef<wchar_t> name, StringRef<wchar_t> value);
    DWORD valueSize(StringRef<char> name) const;
    // REG_SZ or REG_EXPAND_SZ (not expanded), without any trailing NULs, so
    // a value stored with none, one or several terminators reads the same.
    std::string string(StringRef<char> name) const;
    // Exactly four bytes of REG_BINARY, REG_DWORD or REG_DWORD_BIG_ENDIAN,
    // taken in the machine's byte order whatever the type says. False when
    // the value does not exist.
    bool readDword(StringRef<char> name, DWORD& out) const;
    DWORD dword(StringRef<char> name) const;
    DWORD dword(StringRef<wchar_t> name) const;
    bool valueExists(StringRef<char> name) const;
    bool valueExists(StringRef<wchar_t> name) const;

    void deleteValue(StringRef<char> name);
    void deleteKey(StringRef<char> name);
    // `name` and everything below it, depth first. Stops at the first
    // failure; what was deleted before it stays deleted.
    void deleteTree(StringRef<char> name);
    // Direct subkeys in enumeration order.
    std::vector<SubkeyInfo> subkeys() const;
    // No value (the default one included) and no subkey.
    bool isEmpty() const;

private:
    // True while hkey is a handle this object opened or created.
    bool isOpen = false;
    HKEY hkey = nullptr;
};

} // namespace oryx
