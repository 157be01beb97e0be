#include "com/PropertyHandlerRegistrar.h"

#include <string>

#include "support/Diagnostics.h"
#include "support/RegistryKey.h"

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

// Case matters to nobody in the registry, and other tools write GUIDs in
// lower case.
bool sameText(const std::string& a, const std::string& b)
{
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

// The key's value `name`, or "" when the key or the value is missing.
std::string stringValue(const RegistryKey& key, const char* name)
{
    return key.isOpened() && key.valueExists(name) ? key.string(name) : std::string();
}

} // namespace

void PropertyHandlerRegistrar::registerHandler(const CLSID& clsid, const PropertyHandlerRegistration& handler)
{
    const std::string classId = guidName(clsid, false);
    for (std::uint32_t i = 0; i < handler.extensionCount; ++i) {
        const std::string extension = handler.extensions[i];
        RegistryKey handlerKey;
        handlerKey.create(HKEY_LOCAL_MACHINE, std::string(handlersKeyPath) + "\\" + extension);
        handlerKey.setString(defaultValueName, classId);

        RegistryKey association;
        association.create(HKEY_LOCAL_MACHINE, std::string(associationsKeyPath) + "\\" + extension);
        for (const PropertyList& list : propertyLists) {
            if (const char* text = handler.*list.field)
                association.setString(list.valueName, text);
        }
    }
}

void PropertyHandlerRegistrar::unregisterHandler(const CLSID& clsid, const PropertyHandlerRegistration& handler)
{
    const std::string classId = guidName(clsid, false);
    for (std::uint32_t i = 0; i < handler.extensionCount; ++i) {
        const std::string extension = handler.extensions[i];
        RegistryKey handlers;
        if (handlers.open(HKEY_LOCAL_MACHINE, handlersKeyPath, KEY_ALL_ACCESS)) {
            RegistryKey handlerKey;
            handlerKey.open(handlers.handle(), extension, KEY_READ);
            const bool ours = sameText(stringValue(handlerKey, defaultValueName), classId);
            handlerKey.close();
            if (ours)
                handlers.deleteTree(extension);
        }

        RegistryKey associations;
        if (!associations.open(HKEY_LOCAL_MACHINE, associationsKeyPath, KEY_ALL_ACCESS))
            continue;
        RegistryKey association;
        if (!association.open(associations.handle(), extension, KEY_ALL_ACCESS))
            continue;
        for (const PropertyList& list : propertyLists) {
            const char* text = handler.*list.field;
            if (text && association.valueExists(list.valueName) && association.string(list.valueName) == text)
                association.deleteValue(list.valueName);
        }
        // The key was made for the lists; with them gone, nothing needs it.
        const bool empty = association.isEmpty();
        association.close();
        if (empty)
            associations.deleteKey(extension);
    }
}

} // namespace oryx
