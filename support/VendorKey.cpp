#include "support/VendorKey.h"

#include "support/RegistryKey.h"

namespace oryx::vendorKey {

std::string nameFilePath(const char* valueName)
{
    const RegistryKey files(HKEY_LOCAL_MACHINE, filesKeyName, KEY_QUERY_VALUE);
    return files.string(valueName);
}

} // namespace oryx::vendorKey
