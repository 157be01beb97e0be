#pragma once

#include <windows.h>

namespace oryx {

struct FileTypeRegistration;

// A shell extension handler: its interface decides the "ShellEx" folder it
// is registered in.
struct ShellExtensionRegistration {
    const IID* handlerInterface;
    const FileTypeRegistration* fileTypes;
};

} // namespace oryx
