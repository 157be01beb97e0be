#include "support/RegistryKey.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "support/Array.h"
#include "support/LossOfRange.h"
#include "support/StringConversion.h"
#include "support/Quoted.h"
#include "support/WindowsError.h"

namespace oryx {

namespace {

[[noreturn]] void raiseError(LONG code, const std::string& message = std::string())
{
    throw WindowsError(static_cast<DWORD>(code), message);
}

// Enumeration buffers: longer names and classes than this are refused by the
// registry with ERROR_MORE_DATA, which ends the enumeration as a failure.
constexpr DWORD enumerationBufferLength = 300;

constexpr char valueNotFound[] = "Registry value not found";

} // namespace

RegistryKey::RegistryKey(HKEY parent, StringRef<char> name, REGSAM access)
{
    if (!open(parent, name, access))
        raiseError(ERROR_FILE_NOT_FOUND, "Registry key " + quoted(name.str()) + " not found");
}

RegistryKey::RegistryKey(RegistryKey&& other) noexcept : isOpen(other.isOpen), hkey(other.hkey)
{
    other.isOpen = false;
    other.hkey = nullptr;
}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept
{
    if (this != &other) {
        try {
            close();
        } catch (const std::exception&) {
            // The handle is gone either way; a close failure has no one to tell.
        }
        isOpen = other.isOpen;
        hkey = other.hkey;
        other.isOpen = false;
        other.hkey = nullptr;
    }
    return *this;
}

RegistryKey::~RegistryKey()
{
    if (isOpen)
        RegCloseKey(hkey);
}

bool RegistryKey::open(HKEY parent, StringRef<char> name, REGSAM access)
{
    close();
    HKEY opened = nullptr;
    const LONG result = RegOpenKeyExA(parent, name.str().c_str(), 0, access, &opened);
    if (result == ERROR_FILE_NOT_FOUND)
        return false;
    if (result != ERROR_SUCCESS)
        raiseError(result);
    hkey = opened;
    isOpen = true;
    return true;
}

void RegistryKey::create(HKEY parent, StringRef<char> name, StringRef<char> className, DWORD options, REGSAM access,
                         SECURITY_ATTRIBUTES* security, DWORD* disposition)
{
    close();
    std::string classText = className.str();
    char* classArgument = classText.empty() ? nullptr : classText.data();
    HKEY created = nullptr;
    const LONG result =
        RegCreateKeyExA(parent, name.str().c_str(), 0, classArgument, options, access, security, &created, disposition);
    if (result != ERROR_SUCCESS)
        raiseError(result);
    hkey = created;
    isOpen = true;
}

void RegistryKey::close()
{
    if (!isOpen)
        return;
    const LONG result = RegCloseKey(hkey);
    // The handle is not ours any more even when closing it failed: trying
    // again later would only close it twice.
    isOpen = false;
    hkey = nullptr;
    if (result != ERROR_SUCCESS)
        raiseError(result);
}

bool RegistryKey::keyExists(HKEY parent, StringRef<char> name)
{
    RegistryKey key;
    if (!key.open(parent, name, KEY_ALL_ACCESS))
        return false;
    key.close();
    return true;
}

bool RegistryKey::queryValue(StringRef<char> name, BYTE* data, DWORD* size, DWORD* type) const
{
    const LONG result = RegQueryValueExA(hkey, name.str().c_str(), nullptr, type, data, size);
    if (result == ERROR_FILE_NOT_FOUND)
        return false;
    if (result != ERROR_SUCCESS)
        raiseError(result);
    return true;
}

void RegistryKey::setValue(StringRef<char> name, const BYTE* data, DWORD size, DWORD type)
{
    const LONG result = RegSetValueExA(hkey, name.str().c_str(), 0, type, data, size);
    if (result != ERROR_SUCCESS)
        raiseError(result);
}

void RegistryKey::setString(StringRef<char> name, StringRef<char> value)
{
    const std::string data = value.str();
    setValue(name, reinterpret_cast<const BYTE*>(data.c_str()), rangeChecked<DWORD>(data.size() + 1), REG_SZ);
}

void RegistryKey::setString(StringRef<wchar_t> name, StringRef<wchar_t> value)
{
    setString(narrow(name, CP_ACP), narrow(value, CP_ACP));
}

DWORD RegistryKey::valueSize(StringRef<char> name) const
{
    DWORD size = 0;
    const LONG result = RegQueryValueExA(hkey, name.str().c_str(), nullptr, nullptr, nullptr, &size);
    if (result != ERROR_SUCCESS)
        raiseError(result);
    return size;
}

std::string RegistryKey::string(StringRef<char> name) const
{
    DWORD size = 0;
    try {
        size = valueSize(name);
    } catch (const WindowsError& e) {
        if (e.code == ERROR_FILE_NOT_FOUND)
            raiseError(ERROR_FILE_NOT_FOUND, valueNotFound);
        throw;
    }
    // At least one byte: asked with no buffer, the registry reports success
    // and the new size for a value that has grown since its size was read,
    // as if it had copied the data.
    const DWORD capacity = std::max<DWORD>(size, 1);
    Array<char, std::allocator<char>> buffer(rangeChecked<std::int32_t>(capacity));
    size = capacity;
    DWORD type = REG_SZ;
    if (!queryValue(name, reinterpret_cast<BYTE*>(buffer.data), &size, &type))
        raiseError(ERROR_FILE_NOT_FOUND, valueNotFound);
    // A value that outgrew the buffer between the two queries; the registry
    // says so itself, this only keeps a size it did not copy from being used.
    if (size > capacity)
        raiseError(ERROR_MORE_DATA);
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        throw std::runtime_error("Wrong value type. Expected REG_SZ or REG_EXPAND_SZ");
    while (size > 0 && buffer.data[size - 1] == '\0')
        --size;
    return std::string(buffer.data, size);
}

bool RegistryKey::readDword(StringRef<char> name, DWORD& out) const
{
    DWORD type = 0;
    DWORD size = sizeof(DWORD);
    const LONG result =
        RegQueryValueExA(hkey, name.str().c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&out), &size);
    if (result == ERROR_FILE_NOT_FOUND)
        return false;
    if (result != ERROR_SUCCESS)
        raiseError(result, "Can't query DWORD registry value");
    if (type != REG_BINARY && type != REG_DWORD_LITTLE_ENDIAN && type != REG_DWORD_BIG_ENDIAN)
        throw std::runtime_error("Can't read DWORD value from registry with type other than "
                                 "REG_DWORD_LITTLE_ENDIAN, REG_DWORD_BIG_ENDIAN or REG_BINARY");
    if (size != sizeof(DWORD))
        throw std::runtime_error("Can't read DWORD from registry value with size != sizeof(DWORD)");
    return true;
}

DWORD RegistryKey::dword(StringRef<char> name) const
{
    DWORD value = 0;
    if (!readDword(name, value))
        raiseError(ERROR_FILE_NOT_FOUND);
    return value;
}

DWORD RegistryKey::dword(StringRef<wchar_t> name) const
{
    return dword(narrow(name, CP_ACP));
}

bool RegistryKey::valueExists(StringRef<char> name) const
{
    const LONG result = RegQueryValueExA(hkey, name.str().c_str(), nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_SUCCESS)
        return true;
    if (result == ERROR_FILE_NOT_FOUND)
        return false;
    // Callers match this text as it stands: "existance" is not to be corrected.
    raiseError(result, "Error in checking registry value existance");
}

bool RegistryKey::valueExists(StringRef<wchar_t> name) const
{
    return valueExists(narrow(name, CP_ACP));
}

void RegistryKey::deleteValue(StringRef<char> name)
{
    const LONG result = RegDeleteValueA(hkey, name.str().c_str());
    if (result != ERROR_SUCCESS)
        raiseError(result, "Can't delete registry value");
}

void RegistryKey::deleteKey(StringRef<char> name)
{
    const std::string keyName = name.str();
    const LONG result = RegDeleteKeyA(hkey, keyName.c_str());
    if (result != ERROR_SUCCESS)
        raiseError(result, "Can't delete registry key " + quoted(keyName));
}

void RegistryKey::deleteTree(StringRef<char> name)
{
    RegistryKey key(hkey, name, KEY_ALL_ACCESS);
    // The whole list first: deleting while enumerating would shift the
    // indices and skip every other subkey.
    for (const SubkeyInfo& subkey : key.subkeys())
        key.deleteTree(subkey.name);
    key.close();
    deleteKey(name);
}

std::vector<SubkeyInfo> RegistryKey::subkeys() const
{
    std::vector<SubkeyInfo> list;
    char name[enumerationBufferLength];
    char className[enumerationBufferLength];
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = enumerationBufferLength;
        DWORD classLength = enumerationBufferLength;
        FILETIME lastWriteTime{};
        const LONG result =
            RegEnumKeyExA(hkey, index, name, &nameLength, nullptr, className, &classLength, &lastWriteTime);
        if (result == ERROR_NO_MORE_ITEMS)
            return list;
        if (result != ERROR_SUCCESS)
            raiseError(result);
        list.push_back(SubkeyInfo{std::string(name), std::string(className), lastWriteTime});
    }
}

bool RegistryKey::isEmpty() const
{
    DWORD subkeyCount = 0;
    DWORD valueCount = 0;
    const LONG result = RegQueryInfoKeyA(hkey, nullptr, nullptr, nullptr, &subkeyCount, nullptr, nullptr, &valueCount,
                                         nullptr, nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS)
        raiseError(result);
    return subkeyCount == 0 && valueCount == 0;
}

} // namespace oryx
