#include "support/Diagnostics.h"

#include <sstream>

#include <objbase.h>

#include "support/StringConversion.h"

namespace oryx {

std::string guidName(const GUID& guid, bool /*symbolic*/)
{
    wchar_t text[39];
    StringFromGUID2(guid, text, 39);
    return narrow(text, CP_ACP);
}

std::string describeHRESULT(HRESULT hr)
{
    std::ostringstream text;
    text << "HRESULT value " << std::hex << static_cast<unsigned long>(hr);
    return text.str();
}

} // namespace oryx
