#include "com/PropertyHandlerRegistrar.h"

#include <string>

#include "com/SharedValueRegistrar.h"
#include "support/Diagnostics.h"

namespace oryx {

namespace {

// Names the key's default value in the registry calls.
constexpr const char* defaultValueName = nullptr;

struct PropertyList {
    const char* valueName;                           // under SystemFileAssociations\<ext>
    const char* PropertyHandlerRegistration::*field; // the list's text, null when none
};
constexpr PropertyList propertyLists[] = {
    {"FullDetails", &PropertyHandlerRegistration::fullDetails},
    {"PreviewDetails", &PropertyHandlerRegistration::previewDetails},
    {"InfoTip", &PropertyHandlerRegistration::infoTip},
};

// Calls `visit(keyPath, valueName, value)` for every value the handler's
// registration writes.
template <typename Visit>
void forEachValue(const CLSID& clsid, const PropertyHandlerRegistration& handler, Visit visit)
{
    const std::string classId = guidName(clsid, false);
    for (std::uint32_t i = 0; i < handler.extensionCount; ++i) {
        const std::string extension = handler.extensions[i];
        visit(std::string(PropertyHandlerRegistrar::handlersKeyPath) + "\\" + extension, defaultValueName, classId);
        const std::string association = std::string(PropertyHandlerRegistrar::associationsKeyPath) + "\\" + extension;
        for (const PropertyList& list : propertyLists) {
            if (const char* text = handler.*list.field)
                visit(association, list.valueName, text);
        }
    }
}

} // namespace

void PropertyHandlerRegistrar::registerHandler(const CLSID& clsid, const PropertyHandlerRegistration& handler)
{
    const SharedValueRegistrar registrar(clsid);
    forEachValue(clsid, handler, [&](const std::string& key, const char* name, const std::string& value) {
        registrar.claim(key, name, value);
    });
}

void PropertyHandlerRegistrar::unregisterHandler(const CLSID& clsid, const PropertyHandlerRegistration& handler)
{
    const SharedValueRegistrar registrar(clsid);
    forEachValue(clsid, handler, [&](const std::string& key, const char* name, const std::string& value) {
        registrar.release(key, name, value);
    });
}

} // namespace oryx
