#include "support/Diagnostics.h"

#include <cstdint>
#include <cstring>
#include <locale>
#include <optional>
#include <sstream>

#include <objbase.h>

#include "support/GuidNameTable.h"
#include "support/HResultNameTable.h"
#include "support/RegistryKey.h"
#include "support/StringConversion.h"
#include "support/VendorKey.h"

namespace oryx {

namespace {

// Ranges of GUIDs that the multimedia headers derive from a 16-bit
// identifier: the identifier is Data1 minus `firstData1`, and the last
// value, 65535, is not part of the range.
struct IdentifierRange {
    const char* prefix;       // text before the identifier in decimal
    std::uint32_t firstData1; // Data1 of identifier 0
    std::uint16_t data2;
    std::uint16_t data3;
};

constexpr std::uint32_t identifiersPerRange = 65535;
constexpr unsigned char multimediaData4[8] = {0xA2, 0x1A, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96};

constexpr IdentifierRange identifierRanges[] = {
    // prefix              firstData1  data2   data3
    {"Manufacturer ID ", 0xD5A47FA7, 0x6D98, 0x11D1},
    {"Product ID ", 0xE36DC2AC, 0x6D9A, 0x11D1},
};

// Media subtypes built from a four-character code in Data1.
constexpr std::uint16_t fourccData2 = 0x0000;
constexpr std::uint16_t fourccData3 = 0x0010;
constexpr unsigned char fourccData4[8] = {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::optional<std::string> identifierName(const GUID& guid)
{
    for (const IdentifierRange& range : identifierRanges) {
        const std::uint32_t identifier = guid.Data1 - range.firstData1;
        if (identifier < identifiersPerRange && guid.Data2 == range.data2 && guid.Data3 == range.data3 &&
            std::memcmp(guid.Data4, multimediaData4, sizeof multimediaData4) == 0)
            return range.prefix + std::to_string(identifier);
    }
    return std::nullopt;
}

std::optional<std::string> fourccName(const GUID& guid)
{
    if (guid.Data2 != fourccData2 || guid.Data3 != fourccData3 ||
        std::memcmp(guid.Data4, fourccData4, sizeof fourccData4) != 0)
        return std::nullopt;
    char code[4];
    std::memcpy(code, &guid.Data1, sizeof code);
    const std::locale locale;
    for (const char c : code) {
        if (!std::isprint(c, locale))
            return "FOURCC " + std::to_string(guid.Data1);
    }
    return "FOURCC \"" + std::string(code, sizeof code) + '"';
}

// The default value of HKEY_CLASSES_ROOT\<folder>\<guid>, read afresh on
// every call; anything unreadable is simply no name.
std::optional<std::string> registeredName(const char* folder, const std::string& braced)
{
    try {
        RegistryKey key;
        if (!key.open(HKEY_CLASSES_ROOT, std::string(folder) + '\\' + braced, KEY_QUERY_VALUE) || !key.valueExists(""))
            return std::nullopt;
        std::string name = key.string("");
        if (!name.empty())
            return name;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

std::string bracedForm(const GUID& guid)
{
    wchar_t text[39];
    StringFromGUID2(guid, text, 39);
    return narrow(text, CP_ACP);
}

} // namespace

std::string guidName(const GUID& guid, bool symbolic)
{
    const std::string braced = bracedForm(guid);
    if (!symbolic)
        return braced;
    if (const std::string* name = GuidNameTable::instance().find(guid))
        return *name;
    if (auto name = identifierName(guid))
        return *name;
    if (auto name = fourccName(guid))
        return *name;
    if (auto name = registeredName("Interface", braced))
        return "IID_" + *name;
    if (auto name = registeredName("CLSID", braced))
        return "CLSID_" + *name;
    return braced;
}

std::string describeHRESULT(HRESULT hr)
{
    if (const std::string* name = HResultNameTable::instance().find(hr))
        return *name;
    std::ostringstream text;
    text << "HRESULT value " << std::hex << static_cast<std::uint32_t>(hr);
    return text.str();
}

bool isDevelopmentSystem()
{
    try {
        RegistryKey key;
        if (!key.open(HKEY_LOCAL_MACHINE, vendorKey::keyName, KEY_READ) ||
            !key.valueExists(vendorKey::developmentSwitchValue))
            return false;
        return key.dword(vendorKey::developmentSwitchValue) != 0;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace oryx
