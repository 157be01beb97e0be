#pragma once

#include <string>

#include <windows.h>

namespace oryx {

// One direct subkey as the registry enumerates it.
struct SubkeyInfo {
    std::string name;
    std::string className;
    FILETIME lastWriteTime;
};

} // namespace oryx
