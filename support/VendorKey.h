#pragma once

#include <string>

namespace oryx {

// Where a developer's machine says it is one, and where it keeps the files
// that give GUIDs and HRESULTs their names. All under HKEY_LOCAL_MACHINE;
// an ordinary machine has none of it.
namespace vendorKey {

inline constexpr char keyName[] = "Software\\{5C3A9E1B-2F47-4D86-B0E5-7A1C93D4F268}";
inline constexpr char filesKeyName[] = "Software\\{5C3A9E1B-2F47-4D86-B0E5-7A1C93D4F268}\\Files";

inline constexpr char developmentSwitchValue[] = "IsDevelopmentSystem";
inline constexpr char guidNamesValue[] = "GUIDs.txt";
inline constexpr char hresultNamesValue[] = "HRESULTs.txt";

// The path recorded under the Files key, unexpanded. Raises when the key or
// the value is missing.
std::string nameFilePath(const char* valueName);

} // namespace vendorKey

} // namespace oryx
