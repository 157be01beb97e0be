#pragma once

#include <cstdint>

#include <windows.h>

namespace oryx {

// The file types a shell extension handles.
struct FileTypeRegistration {
    // When present, the file type's ProgID is the text of this GUID; when
    // null, the handler is registered under "Software\Classes\" + text.
    const GUID* progIdGuid;
    const char* const* extensions; // each with its leading dot
    std::uint32_t extensionCount;
    std::uint32_t iconId; // icon resource in this module; 0: none
    // With progIdGuid: the ProgID's description (may be null). Without it:
    // the key name under "Software\Classes\", such as "*" for all files.
    const char* text;
};

} // namespace oryx
