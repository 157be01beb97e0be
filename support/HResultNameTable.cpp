#include "support/HResultNameTable.h"

#include <fstream>
#include <limits>

#include "support/VendorKey.h"

namespace oryx {

const HResultNameTable& HResultNameTable::instance()
{
    // Filled by the constructor, which runs once even when several threads
    // ask at the same time.
    static const HResultNameTable table;
    return table;
}

HResultNameTable::HResultNameTable()
{
    try {
        read();
    } catch (const std::exception&) {
        // As for GUID names: the entries read so far stay, the rest is lost.
    }
}

void HResultNameTable::read()
{
    std::ifstream file(vendorKey::nameFilePath(vendorKey::hresultNamesValue));
    file >> std::hex;
    while (file) {
        // Read unsigned: failure codes have the top bit set, and a signed
        // 32-bit extraction refuses every one of them as out of range.
        unsigned long value = 0;
        std::string name;
        if (file >> value >> name)
            names[static_cast<HRESULT>(value)] = name;
        file >> std::ws;
        if (file.peek() == '"') {
            file.get();
            file.ignore(std::numeric_limits<std::streamsize>::max(), '"');
        }
    }
}

const std::string* HResultNameTable::find(HRESULT hr) const
{
    const auto found = names.find(hr);
    return found == names.end() ? nullptr : &found->second;
}

} // namespace oryx
