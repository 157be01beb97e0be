#include "com/ClassRegistrar.h"

#include <iomanip>
#include <sstream>
#include <stdexcept>

#include "com/FileTypeRegistration.h"
#include "com/FilterRegistration.h"
#include "com/PropertyHandlerRegistrar.h"
#include "com/ShellExtensionRegistration.h"
#include "support/Diagnostics.h"
#include "support/HResults.h"
#include "support/Library.h"
#include "support/RegistryKey.h"
#include "support/StringConversion.h"

namespace oryx {

namespace {

// Names the key's default value in the registry calls.
constexpr const char* defaultValueName = nullptr;
constexpr const wchar_t* defaultValueNameW = nullptr;

const char classesKeyPath[] = "Software\\Classes\\";
const char classIdsKeyPath[] = "Software\\Classes\\CLSID";
const char approvedKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

// Server key names, indexed by the server kind (server_and_threading & 0xF).
constexpr const char* serverKeyNames[] = {
    "InprocServer32", "InprocServer", "InprocHandler32", "InprocHandler", "LocalServer32", "LocalServer",
};

struct ThreadingModel {
    std::uint32_t server_and_threading; // the whole field, not masked
    const char* name;                   // the "ThreadingModel" value
};
// Any value not listed writes an empty "ThreadingModel"; so does every
// server kind but InprocServer32, as the whole field is compared.
constexpr ThreadingModel threadingModels[] = {
    {0x10, "Apartment"},
    {0x20, "Both"},
    {0x30, "Free"},
    {0x40, "Neutral"},
};

enum class FolderForm {
    single,  // the folder's default value is the handler's class identifier
    several, // one subkey per handler, named by its class identifier
};
struct ShellExtensionFolder {
    GUID handlerInterface; // what kind of extension the class is
    const char* folder;    // key under "ShellEx"
    FolderForm form;
};
// Searched in order; the first match wins. One entry a line, not one field.
// clang-format off
constexpr ShellExtensionFolder shellExtensionFolders[] = {
    {{0xE8025004, 0x1C42, 0x11D2, {0xBE, 0x2C, 0x00, 0xA0, 0xC9, 0xA8, 0x3D, 0xA1}}, "ColumnHandlers",
     FolderForm::several}, // IColumnProvider
    {{0x000214E4, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}, "ContextMenuHandlers",
     FolderForm::several}, // IContextMenu
    {{0x000214EF, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}, "CopyHookHandlers",
     FolderForm::several}, // ICopyHookA
    {{0x000214FC, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}, "CopyHookHandlers",
     FolderForm::several}, // ICopyHookW
    {{0x000214E9, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}, "PropertySheetHandlers",
     FolderForm::several}, // IShellPropSheetExt
    {{0x0000010E, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}, "DataHandler",
     FolderForm::single}, // IDataObject
    {{0x00000122, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}, "DropHandler",
     FolderForm::single}, // IDropTarget
    {{0x000214EB, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}, "IconHandler",
     FolderForm::single}, // IExtractIconA
    {{0x000214FA, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}, "IconHandler",
     FolderForm::single}, // IExtractIconW
    {{0xBB2E617C, 0x0920, 0x11D1, {0x9A, 0x0B, 0x00, 0xC0, 0x4F, 0xC2, 0xD6, 0xC1}},
     "{BB2E617C-0920-11d1-9A0B-00C04FC2D6C1}", FolderForm::single}, // IExtractImage
    {{0x00021500, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}},
     "{00021500-0000-0000-C000-000000000046}", FolderForm::single}, // IQueryInfo
    {{0x000214EE, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}},
     "{000214EE-0000-0000-C000-000000000046}", FolderForm::single}, // IShellLinkA
    {{0x000214F9, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}},
     "{000214F9-0000-0000-C000-000000000046}", FolderForm::single}, // IShellLinkW
    {{0x0000000B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}},
     "{0000000B-0000-0000-C000-000000000046}", FolderForm::single}, // IStorage
    {{0x0000013A, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}},
     "{0000013A-0000-0000-C000-000000000046}", FolderForm::single}, // IPropertySetStorage
};
// clang-format on

const char* serverKeyName(std::uint32_t serverAndThreading)
{
    const std::uint32_t kind = serverAndThreading & 0xF;
    if (kind >= std::size(serverKeyNames)) {
        throw std::runtime_error("Invalid value " + std::to_string(serverAndThreading) + " for server_and_threading");
    }
    return serverKeyNames[kind];
}

const char* threadingModelName(std::uint32_t serverAndThreading)
{
    for (const ThreadingModel& model : threadingModels) {
        if (model.server_and_threading == serverAndThreading)
            return model.name;
    }
    return "";
}

const ShellExtensionFolder& shellExtensionFolder(const IID& handlerInterface)
{
    for (const ShellExtensionFolder& folder : shellExtensionFolders) {
        if (IsEqualGUID(folder.handlerInterface, handlerInterface))
            return folder;
    }
    // The established text of this message, slip and all.
    throw std::runtime_error("No shell extension folder name found fo " + guidName(handlerInterface, true));
}

RegistryKey createKey(HKEY parent, const std::string& name)
{
    RegistryKey key;
    key.create(parent, name);
    return key;
}

// The key's default value when it is a non-empty string; "" when it is
// missing or empty.
std::string defaultValue(const RegistryKey& key)
{
    return key.valueExists(defaultValueName) ? key.string(defaultValueName) : std::string();
}

} // namespace

std::string ClassRegistrar::classKeyName(const GUID& guid)
{
    std::ostringstream text;
    text << std::hex << std::nouppercase << std::setfill('0') << '{' << std::setw(8) << guid.Data1 << '-'
         << std::setw(4) << guid.Data2 << '-' << std::setw(4) << guid.Data3 << '-';
    for (int i = 0; i < 8; ++i) {
        if (i == 2)
            text << '-';
        text << std::setw(2) << static_cast<unsigned>(guid.Data4[i]);
    }
    text << '}';
    return text.str();
}

void ClassRegistrar::registerClasses(const ClassInfo* classes, std::uint32_t count, HMODULE module)
{
    const std::wstring serverPath = Library(module).fileNameW();
    RegistryKey classIds = createKey(HKEY_LOCAL_MACHINE, classIdsKeyPath);
    for (std::uint32_t i = 0; i < count; ++i)
        registerClass(classIds, classes[i], serverPath);
    mapper.release();
}

void ClassRegistrar::registerClass(RegistryKey& classIds, const ClassInfo& info, const std::wstring& serverPath)
{
    RegistryKey classKey = createKey(classIds.handle(), classKeyName(*info.clsid));
    classKey.setString(defaultValueNameW, info.name);

    const char* const serverKeyText = serverKeyName(info.server_and_threading);
    RegistryKey serverKey = createKey(classKey.handle(), serverKeyText);
    serverKey.setString(defaultValueNameW, serverPath);
    serverKey.setString("ThreadingModel", threadingModelName(info.server_and_threading));
    // Left by an old way of registering servers; it would contradict the
    // server key's default value.
    if (serverKey.valueExists(serverKeyText))
        serverKey.deleteValue(serverKeyText);

    if (info.filterRegistration)
        registerFilter(info);
    if (info.shellExtension && info.shellExtension->propertyHandler)
        PropertyHandlerRegistrar::registerHandler(*info.clsid, *info.shellExtension->propertyHandler);
    else if (info.shellExtension)
        registerFileTypes(info, serverPath);
}

void ClassRegistrar::registerFilter(const ClassInfo& info)
{
    const FilterRegistration& filter = *info.filterRegistration;
    REGFILTER2 registration{};
    registration.dwVersion = 2;
    registration.dwMerit = filter.merit;
    registration.cPins2 = filter.pinCount;
    registration.rgPins2 = filter.pins;
    checkResult(filterMapper().RegisterFilter(*info.clsid, info.name, nullptr, filter.category, nullptr, &registration),
                "Error while calling IFilterMapper2::RegisterFilter");
}

void ClassRegistrar::registerFileTypes(const ClassInfo& info, const std::wstring& serverPath)
{
    const FileTypeRegistration& fileTypes = *info.shellExtension->fileTypes;
    if (!fileTypes.progIdGuid) {
        registerShellExtension(createKey(HKEY_LOCAL_MACHINE, classesKeyPath + std::string(fileTypes.text)), info);
        return;
    }
    for (std::uint32_t i = 0; i < fileTypes.extensionCount; ++i) {
        // An extension that already names a ProgID keeps its association;
        // the handler joins that ProgID instead.
        RegistryKey extension = createKey(HKEY_LOCAL_MACHINE, classesKeyPath + std::string(fileTypes.extensions[i]));
        std::string progId = defaultValue(extension);
        if (progId.empty()) {
            progId = classKeyName(*fileTypes.progIdGuid);
            extension.setString(defaultValueName, progId);
        }

        RegistryKey progIdKey = createKey(HKEY_LOCAL_MACHINE, classesKeyPath + progId);
        if (fileTypes.iconId != 0) {
            RegistryKey icon = createKey(progIdKey.handle(), "DefaultIcon");
            if (defaultValue(icon).empty()) {
                // A negative index names the icon by its resource identifier.
                icon.setString(defaultValueNameW, serverPath + L",-" + std::to_wstring(fileTypes.iconId));
            }
        }
        // Only a description we have may be written, and only where there
        // is none yet.
        if (fileTypes.text && defaultValue(progIdKey).empty())
            progIdKey.setString(defaultValueName, fileTypes.text);

        registerShellExtension(progIdKey, info);
    }
}

void ClassRegistrar::registerShellExtension(const RegistryKey& key, const ClassInfo& info)
{
    const ShellExtensionFolder& folder = shellExtensionFolder(*info.shellExtension->handlerInterface);
    const std::string classId = guidName(*info.clsid, false);
    std::string handlerPath = std::string("ShellEx\\") + folder.folder;
    if (folder.form == FolderForm::several)
        handlerPath += "\\" + classId;
    createKey(key.handle(), handlerPath).setString(defaultValueName, classId);

    createKey(HKEY_LOCAL_MACHINE, approvedKeyPath).setString(widen(classId), info.name);
}

void ClassRegistrar::unregisterClasses(const ClassInfo* classes, std::uint32_t count)
{
    // A property handler's keys name its class, so they go with it.
    for (std::uint32_t i = 0; i < count; ++i) {
        const ClassInfo& info = classes[i];
        if (info.shellExtension && info.shellExtension->propertyHandler)
            PropertyHandlerRegistrar::unregisterHandler(*info.clsid, *info.shellExtension->propertyHandler);
    }
    RegistryKey classIds;
    if (!classIds.open(HKEY_LOCAL_MACHINE, classIdsKeyPath, KEY_ALL_ACCESS))
        return;
    for (std::uint32_t i = 0; i < count; ++i) {
        const ClassInfo& info = classes[i];
        if (info.filterRegistration) {
            // A filter entry that is already gone is what we came for; were
            // it an error, a class whose entry was removed by other means
            // could never have its class key removed.
            const HRESULT hr = filterMapper().UnregisterFilter(info.filterRegistration->category, nullptr, *info.clsid);
            if (hr != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))
                checkResult(hr);
        }
        const std::string classKey = classKeyName(*info.clsid);
        if (RegistryKey::keyExists(classIds.handle(), classKey))
            classIds.deleteTree(classKey);
    }
    mapper.release();
}

IFilterMapper2& ClassRegistrar::filterMapper()
{
    if (!mapper)
        mapper = COMPtr<IFilterMapper2>(CLSID_FilterMapper2, CLSCTX_INPROC_SERVER);
    return *mapper;
}

} // namespace oryx
