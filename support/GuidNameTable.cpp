#include "support/GuidNameTable.h"

#include <fstream>

#include <objbase.h>

#include "support/StringConversion.h"
#include "support/VendorKey.h"

namespace oryx {

const GuidNameTable& GuidNameTable::instance()
{
    // The constructor fills the table, and a function-local static is
    // constructed exactly once however many threads arrive at the same time.
    static const GuidNameTable table;
    return table;
}

GuidNameTable::GuidNameTable()
{
    try {
        read();
    } catch (const std::exception&) {
        // Names are a convenience of a developer's machine: a missing or
        // malformed file ends the reading and keeps what was read so far.
    }
}

void GuidNameTable::read()
{
    std::ifstream file(vendorKey::nameFilePath(vendorKey::guidNamesValue));
    std::string guidText;
    std::string name;
    while (file >> guidText >> name) {
        GUID guid;
        // A word that is no braced GUID ends the file's useful part. The
        // brace is checked first because the parser would also take a
        // registered program name for its class. Not raised: the error's
        // text would fill the HRESULT table from inside this one.
        if (guidText.front() != '{' || FAILED(CLSIDFromString(widen(guidText).c_str(), &guid)))
            return;
        names[guid] = name;
    }
}

const std::string* GuidNameTable::find(const GUID& guid) const
{
    const auto found = names.find(guid);
    return found == names.end() ? nullptr : &found->second;
}

} // namespace oryx
