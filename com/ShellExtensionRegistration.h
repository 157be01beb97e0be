#pragma once

#include <windows.h>

namespace oryx {

struct FileTypeRegistration;
struct PropertyHandlerRegistration;

// A shell extension handler. One of the last two fields is set: `fileTypes`
// for a handler registered in a "ShellEx" folder, which its interface
// decides; `propertyHandler` for a property handler (interface
// IPropertyStore), which Windows finds by extension instead.
struct ShellExtensionRegistration {
    const IID* handlerInterface;
    const FileTypeRegistration* fileTypes;
    const PropertyHandlerRegistration* propertyHandler;
};

} // namespace oryx
