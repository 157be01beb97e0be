// Registration of class tables that the tests define, against Wine's
// registry and its real filter mapper. Every key a test creates is removed
// again by the fixture, whether the test passed or not.
#include <map>
#include <string>

#include <dshow.h>
#include <gtest/gtest.h>
#include <propsys.h>

#include "com/COMServer.h"
#include "com/ClassRegistrar.h"
#include "com/FileTypeRegistration.h"
#include "com/FilterRegistration.h"
#include "com/PropertyHandlerRegistration.h"
#include "com/ShellExtensionRegistration.h"
#include "support/COMPtr.h"
#include "support/Diagnostics.h"
#include "support/HResults.h"
#include "support/Library.h"
#include "support/RegistryKey.h"
#include "support/StringConversion.h"
#include "tests/common/RegistryProbe.h"

using oryx::ClassInfo;
using oryx::ClassRegistrar;
using oryx::COMPtr;
using oryx::RegistryKey;
using registryprobe::deleteTreeIfPresent;
using registryprobe::keyExists;
using registryprobe::setDefault;
using registryprobe::snapshot;
using registryprobe::valueOf;

namespace {

// Test classes: {C0DE0000-7E57-4A11-9000-00000000000n}.
constexpr CLSID testClass(unsigned n)
{
    return {0xc0de0000, 0x7e57, 0x4a11, {0x90, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, static_cast<unsigned char>(n)}};
}
constexpr CLSID CLSID_Both = testClass(1);
constexpr CLSID CLSID_Apartment = testClass(2);
constexpr CLSID CLSID_NoModel = testClass(3);
constexpr CLSID CLSID_InprocServer = testClass(4);
constexpr CLSID CLSID_InvalidServer = testClass(5);
constexpr CLSID CLSID_Filter = testClass(6);
constexpr CLSID CLSID_ContextMenu = testClass(7);
constexpr CLSID CLSID_IconHandler = testClass(8);
constexpr CLSID CLSID_Undescribed = testClass(9);
constexpr CLSID CLSID_UnknownHandler = testClass(10);
const CLSID allTestClasses[] = {CLSID_Both,          CLSID_Apartment,     CLSID_NoModel,     CLSID_InprocServer,
                                CLSID_InvalidServer, CLSID_Filter,        CLSID_ContextMenu, CLSID_IconHandler,
                                CLSID_Undescribed,   CLSID_UnknownHandler};

// The filter's output type, one that no real filter produces.
// {C0DE1000-7E57-4A11-9000-000000000001} and ...02
constexpr GUID MEDIATYPE_Test = {0xc0de1000, 0x7e57, 0x4a11, {0x90, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
constexpr GUID MEDIASUBTYPE_Test = {0xc0de1000, 0x7e57, 0x4a11, {0x90, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02}};
const REGPINTYPES testPinType = {&MEDIATYPE_Test, &MEDIASUBTYPE_Test};
const REGFILTERPINS2 testPin = {REG_PINFLAG_B_OUTPUT, 1, 1, &testPinType, 0, nullptr, nullptr};
const oryx::FilterRegistration testFilter = {MERIT_NORMAL, &testPin, 1, nullptr};

// The file types' ProgID {C0DE2000-7E57-4A11-9000-0000000000AB}.
constexpr GUID progIdGuid = {0xc0de2000, 0x7e57, 0x4a11, {0x90, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xab}};
const char* const describedExtensions[] = {".apetesta", ".apetestb"};
const oryx::FileTypeRegistration describedTypes = {&progIdGuid, describedExtensions, 2, 101, "Test Audio File"};
const char* const undescribedExtensions[] = {".apetestc"};
const oryx::FileTypeRegistration undescribedTypes = {&progIdGuid, undescribedExtensions, 1, 0, nullptr};
const oryx::FileTypeRegistration allFiles = {nullptr, nullptr, 0, 0, "ApeTestAllFiles"};

const IID IID_IContextMenuHandler = {0x000214e4, 0, 0, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IExtractIconWHandler = {0x000214fa, 0, 0, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};
const oryx::ShellExtensionRegistration contextMenu = {&IID_IContextMenuHandler, &describedTypes, nullptr};
const oryx::ShellExtensionRegistration undescribedContextMenu = {&IID_IContextMenuHandler, &undescribedTypes, nullptr};
const oryx::ShellExtensionRegistration iconHandler = {&IID_IExtractIconWHandler, &allFiles, nullptr};
const oryx::ShellExtensionRegistration unknownHandler = {&IID_IPersist, &allFiles, nullptr};

const char* const propertyExtensions[] = {".apetestp", ".apetestq"};
const oryx::PropertyHandlerRegistration testProperties = {propertyExtensions, 2, "prop:System.Title;System.Size",
                                                          nullptr, "prop:System.Title"};
const oryx::ShellExtensionRegistration propertyHandler = {&__uuidof(IPropertyStore), nullptr, &testProperties};
const char propertyHandlersPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers";
const char associationsPath[] = "Software\\Classes\\SystemFileAssociations";

const char classIdsPath[] = "Software\\Classes\\CLSID";
const char approvedPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const char existingProgId[] = "ApeTest.Existing";

std::string classKeyPath(const CLSID& clsid)
{
    return std::string(classIdsPath) + "\\" + ClassRegistrar::classKeyName(clsid);
}

std::string classesPath(const std::string& name)
{
    return "Software\\Classes\\" + name;
}

std::string platformText(const GUID& guid)
{
    return oryx::guidName(guid, false);
}

// Whether the filter mapper lists `clsid` among the filters that put out the
// test media type.
bool mapperFinds(const CLSID& clsid)
{
    return registryprobe::mapperFinds(clsid, MEDIATYPE_Test, MEDIASUBTYPE_Test);
}

class Registration : public testing::Test {
protected:
    const std::string serverPath = oryx::narrow(oryx::Library(GetModuleHandleW(nullptr)).fileNameW(), CP_ACP);

    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }

    void TearDown() override
    {
        try {
            COMPtr<IFilterMapper2> mapper(CLSID_FilterMapper2);
            mapper->UnregisterFilter(nullptr, nullptr, CLSID_Filter);
            for (const CLSID& clsid : allTestClasses)
                deleteTreeIfPresent(classKeyPath(clsid));
            for (const char* name : {".apetesta", ".apetestb", ".apetestc", existingProgId, "ApeTestAllFiles"})
                deleteTreeIfPresent(classesPath(name));
            for (const char* extension : propertyExtensions) {
                deleteTreeIfPresent(std::string(propertyHandlersPath) + "\\" + extension);
                deleteTreeIfPresent(std::string(associationsPath) + "\\" + extension);
            }
            deleteTreeIfPresent(classesPath(ClassRegistrar::classKeyName(progIdGuid)));
            RegistryKey approved;
            if (approved.open(HKEY_LOCAL_MACHINE, approvedPath, KEY_ALL_ACCESS)) {
                for (const CLSID& clsid : allTestClasses) {
                    if (approved.valueExists(platformText(clsid)))
                        approved.deleteValue(platformText(clsid));
                }
            }
        } catch (const std::exception& e) {
            ADD_FAILURE() << "cleaning up: " << e.what();
        }
        CoUninitialize();
    }

    template <std::size_t n>
    static HRESULT registerTable(const ClassInfo (&classes)[n])
    {
        return oryx::COMServer(classes, n).registerClasses(nullptr);
    }
    template <std::size_t n>
    static HRESULT unregisterTable(const ClassInfo (&classes)[n])
    {
        return oryx::COMServer(classes, n).unregisterClasses();
    }
};

TEST_F(Registration, WritesTheServerKeyAndThreadingModelThatEachFieldValueSelects)
{
    const ClassInfo classes[] = {
        {&CLSID_Both, 0x20, L"Both Class", nullptr, nullptr, nullptr},
        {&CLSID_Apartment, 0x10, L"Apartment Class", nullptr, nullptr, nullptr},
        {&CLSID_NoModel, 0x00, L"No Model Class", nullptr, nullptr, nullptr},
        {&CLSID_InprocServer, 0x21, L"Inproc Class", nullptr, nullptr, nullptr},
    };
    ASSERT_EQ(registerTable(classes), S_OK);

    struct Expected {
        const CLSID* clsid;
        const char* name;
        const char* serverKey;
        const char* threadingModel;
    };
    const Expected expected[] = {
        {&CLSID_Both, "Both Class", "InprocServer32", "Both"},
        {&CLSID_Apartment, "Apartment Class", "InprocServer32", "Apartment"},
        {&CLSID_NoModel, "No Model Class", "InprocServer32", ""},
        {&CLSID_InprocServer, "Inproc Class", "InprocServer", ""},
    };
    for (const Expected& e : expected) {
        const std::string classKey = classKeyPath(*e.clsid);
        EXPECT_EQ(valueOf(classKey), e.name);
        EXPECT_EQ(valueOf(classKey + "\\" + e.serverKey), serverPath);
        EXPECT_EQ(valueOf(classKey + "\\" + e.serverKey, "ThreadingModel"), e.threadingModel) << e.name;
    }
    EXPECT_FALSE(keyExists(classKeyPath(CLSID_InprocServer) + "\\InprocServer32"));
}

TEST_F(Registration, NamesTheClassKeyInLowerCase)
{
    const ClassInfo classes[] = {{&CLSID_Both, 0x20, L"Both Class", nullptr, nullptr, nullptr}};
    ASSERT_EQ(registerTable(classes), S_OK);
    const std::string expected = "{c0de0000-7e57-4a11-9000-000000000001}";
    RegistryKey classIds(HKEY_LOCAL_MACHINE, classIdsPath, KEY_READ);
    bool found = false;
    for (const oryx::SubkeyInfo& subkey : classIds.subkeys()) {
        if (lstrcmpiA(subkey.name.c_str(), expected.c_str()) == 0) {
            EXPECT_EQ(subkey.name, expected);
            found = true;
        }
    }
    EXPECT_TRUE(found);
}

TEST_F(Registration, AnInvalidServerKindFailsAfterTheClassKeyIsWritten)
{
    const ClassInfo classes[] = {
        {&CLSID_InvalidServer, 7, L"Invalid Class", nullptr, nullptr, nullptr},
        {&CLSID_Both, 0x20, L"Both Class", nullptr, nullptr, nullptr},
    };
    EXPECT_EQ(registerTable(classes), E_FAIL);
    EXPECT_EQ(valueOf(classKeyPath(CLSID_InvalidServer)), "Invalid Class");
    EXPECT_FALSE(keyExists(classKeyPath(CLSID_InvalidServer) + "\\LocalServer"));
    EXPECT_FALSE(keyExists(classKeyPath(CLSID_Both))) << "records after the failing one are not processed";

    try {
        ClassRegistrar().registerClasses(classes, 1, nullptr);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Invalid value 7 for server_and_threading");
    }
}

TEST_F(Registration, RemovesAValueNamedLikeItsServerKey)
{
    RegistryKey server;
    server.create(HKEY_LOCAL_MACHINE, classKeyPath(CLSID_Both) + "\\InprocServer32");
    server.setString("InprocServer32", "stale");
    server.close();
    const ClassInfo classes[] = {{&CLSID_Both, 0x20, L"Both Class", nullptr, nullptr, nullptr}};
    ASSERT_EQ(registerTable(classes), S_OK);
    EXPECT_EQ(valueOf(classKeyPath(CLSID_Both) + "\\InprocServer32", "InprocServer32"), "<missing>");
}

TEST_F(Registration, RegistersAFilterThatTheFilterMapperFindsUntilItIsUnregistered)
{
    const ClassInfo classes[] = {{&CLSID_Filter, 0x20, L"Test Filter", nullptr, &testFilter, nullptr}};
    ASSERT_FALSE(mapperFinds(CLSID_Filter));
    ASSERT_EQ(registerTable(classes), S_OK);
    EXPECT_TRUE(mapperFinds(CLSID_Filter));
    EXPECT_EQ(valueOf(classKeyPath(CLSID_Filter)), "Test Filter");

    ASSERT_EQ(unregisterTable(classes), S_OK);
    EXPECT_FALSE(mapperFinds(CLSID_Filter));
    EXPECT_FALSE(keyExists(classKeyPath(CLSID_Filter)));
}

TEST_F(Registration, UnregisteringRemovesTheClassKeyOfAFilterWhoseEntryIsAlreadyGone)
{
    const ClassInfo classes[] = {{&CLSID_Filter, 0x20, L"Test Filter", nullptr, &testFilter, nullptr}};
    ASSERT_EQ(registerTable(classes), S_OK);
    ASSERT_HRESULT_SUCCEEDED(
        COMPtr<IFilterMapper2>(CLSID_FilterMapper2)->UnregisterFilter(nullptr, nullptr, CLSID_Filter));
    EXPECT_EQ(unregisterTable(classes), S_OK);
    EXPECT_FALSE(keyExists(classKeyPath(CLSID_Filter)));
}

TEST_F(Registration, RegistersFileTypesAndShellExtensionsUnderNewAndExistingProgIds)
{
    // .apetestb already belongs to a ProgID with its own icon and description.
    setDefault(classesPath(".apetestb"), existingProgId);
    setDefault(classesPath(existingProgId), "Existing description");
    setDefault(classesPath(existingProgId) + "\\DefaultIcon", "existing.dll,3");

    const ClassInfo classes[] = {
        {&CLSID_ContextMenu, 0x10, L"Test Menu", nullptr, nullptr, &contextMenu},
        {&CLSID_IconHandler, 0x10, L"Test Icons", nullptr, nullptr, &iconHandler},
    };
    ASSERT_EQ(registerTable(classes), S_OK);

    const std::string menu = platformText(CLSID_ContextMenu);
    const std::string newProgId = ClassRegistrar::classKeyName(progIdGuid);
    EXPECT_EQ(valueOf(classesPath(".apetesta")), newProgId);
    EXPECT_EQ(valueOf(classesPath(newProgId)), "Test Audio File");
    EXPECT_EQ(valueOf(classesPath(newProgId) + "\\DefaultIcon"), serverPath + ",-101");
    EXPECT_EQ(valueOf(classesPath(newProgId) + "\\ShellEx\\ContextMenuHandlers\\" + menu), menu);

    EXPECT_EQ(valueOf(classesPath(".apetestb")), existingProgId);
    EXPECT_EQ(valueOf(classesPath(existingProgId)), "Existing description");
    EXPECT_EQ(valueOf(classesPath(existingProgId) + "\\DefaultIcon"), "existing.dll,3");
    EXPECT_EQ(valueOf(classesPath(existingProgId) + "\\ShellEx\\ContextMenuHandlers\\" + menu), menu);

    const std::string icons = platformText(CLSID_IconHandler);
    EXPECT_EQ(valueOf(classesPath("ApeTestAllFiles") + "\\ShellEx\\IconHandler"), icons);
    EXPECT_EQ(valueOf(approvedPath, menu.c_str()), "Test Menu");
    EXPECT_EQ(valueOf(approvedPath, icons.c_str()), "Test Icons");
    EXPECT_NE(menu, ClassRegistrar::classKeyName(CLSID_ContextMenu)) << "shell values use upper-case digits";
}

TEST_F(Registration, AFileTypeWithoutTextLeavesAnUndescribedProgIdAlone)
{
    const ClassInfo classes[] = {{&CLSID_Undescribed, 0x10, L"Undescribed", nullptr, nullptr, &undescribedContextMenu}};
    ASSERT_EQ(registerTable(classes), S_OK);
    const std::string progId = ClassRegistrar::classKeyName(progIdGuid);
    EXPECT_EQ(valueOf(classesPath(".apetestc")), progId);
    EXPECT_EQ(valueOf(classesPath(progId)), "<missing>");
    EXPECT_FALSE(keyExists(classesPath(progId) + "\\DefaultIcon")) << "no icon was asked for";
    const std::string handler = platformText(CLSID_Undescribed);
    EXPECT_EQ(valueOf(classesPath(progId) + "\\ShellEx\\ContextMenuHandlers\\" + handler), handler);
}

TEST_F(Registration, AHandlerInterfaceWithoutAFolderFails)
{
    const ClassInfo classes[] = {{&CLSID_UnknownHandler, 0x10, L"Unknown", nullptr, nullptr, &unknownHandler}};
    EXPECT_EQ(registerTable(classes), E_FAIL);
    try {
        ClassRegistrar().registerClasses(classes, 1, nullptr);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("No shell extension folder name found fo ", 0), 0u) << e.what();
    }
}

TEST_F(Registration, RegisteringTwiceGivesTheSameKeysAndValues)
{
    const ClassInfo classes[] = {
        {&CLSID_Filter, 0x20, L"Test Filter", nullptr, &testFilter, nullptr},
        {&CLSID_ContextMenu, 0x10, L"Test Menu", nullptr, nullptr, &contextMenu},
    };
    const std::string progId = classesPath(ClassRegistrar::classKeyName(progIdGuid));
    ASSERT_EQ(registerTable(classes), S_OK);
    const auto classKey = snapshot(classKeyPath(CLSID_Filter));
    const auto fileType = snapshot(progId);
    const auto extension = snapshot(classesPath(".apetesta"));
    ASSERT_FALSE(classKey.empty());
    ASSERT_FALSE(fileType.empty());

    ASSERT_EQ(registerTable(classes), S_OK);
    EXPECT_EQ(snapshot(classKeyPath(CLSID_Filter)), classKey);
    EXPECT_EQ(snapshot(progId), fileType);
    EXPECT_EQ(snapshot(classesPath(".apetesta")), extension);
    EXPECT_TRUE(mapperFinds(CLSID_Filter));
}

TEST_F(Registration, UnregisteringRemovesClassKeysButLeavesFileTypesAndShellExtensions)
{
    const ClassInfo classes[] = {
        {&CLSID_Both, 0x20, L"Both Class", nullptr, nullptr, nullptr},
        {&CLSID_ContextMenu, 0x10, L"Test Menu", nullptr, nullptr, &contextMenu},
    };
    ASSERT_EQ(registerTable(classes), S_OK);
    const std::string progId = classesPath(ClassRegistrar::classKeyName(progIdGuid));
    const auto fileType = snapshot(progId);

    ASSERT_EQ(unregisterTable(classes), S_OK);
    EXPECT_FALSE(keyExists(classKeyPath(CLSID_Both)));
    EXPECT_FALSE(keyExists(classKeyPath(CLSID_ContextMenu)));
    EXPECT_EQ(snapshot(progId), fileType);
    EXPECT_EQ(valueOf(approvedPath, platformText(CLSID_ContextMenu).c_str()), "Test Menu");

    EXPECT_EQ(unregisterTable(classes), S_OK) << "nothing left to remove is no failure";
}

// A property handler is found by extension, not through a ShellEx folder;
// its keys name its class, so unregistering takes them, but only what is
// still ours.
TEST_F(Registration, PropertyHandlersAreRegisteredByExtensionAndRemovedWithTheirClassWhereStillTheirs)
{
    const ClassInfo classes[] = {{&CLSID_Both, 0x20, L"Test Properties", nullptr, nullptr, &propertyHandler}};
    const std::string handlerP = std::string(propertyHandlersPath) + "\\.apetestp";
    const std::string handlerQ = std::string(propertyHandlersPath) + "\\.apetestq";
    const std::string listsP = std::string(associationsPath) + "\\.apetestp";
    const std::string listsQ = std::string(associationsPath) + "\\.apetestq";
    ASSERT_EQ(registerTable(classes), S_OK);
    for (const std::string& handler : {handlerP, handlerQ})
        EXPECT_EQ(valueOf(handler), platformText(CLSID_Both));
    for (const std::string& lists : {listsP, listsQ}) {
        EXPECT_EQ(valueOf(lists, "FullDetails"), "prop:System.Title;System.Size");
        EXPECT_EQ(valueOf(lists, "PreviewDetails"), "<missing>") << "a null list is not written";
        EXPECT_EQ(valueOf(lists, "InfoTip"), "prop:System.Title");
    }
    EXPECT_FALSE(keyExists(classesPath(".apetestp"))) << "the extension's association is left alone";
    EXPECT_EQ(valueOf(approvedPath, platformText(CLSID_Both).c_str()), "<missing>");

    // Another handler took .apetestq; another program replaced a list of
    // .apetestp and keeps a key below it.
    setDefault(handlerQ, "{00000000-1111-2222-3333-444444444444}");
    RegistryKey lists(HKEY_LOCAL_MACHINE, listsP, KEY_ALL_ACCESS);
    lists.setString("InfoTip", "prop:System.Size");
    lists.close();
    setDefault(listsP + "\\shell", "theirs");

    ASSERT_EQ(unregisterTable(classes), S_OK);
    EXPECT_FALSE(keyExists(classKeyPath(CLSID_Both)));
    EXPECT_FALSE(keyExists(handlerP));
    EXPECT_EQ(valueOf(handlerQ), "{00000000-1111-2222-3333-444444444444}");
    EXPECT_EQ(valueOf(listsP, "FullDetails"), "<missing>");
    EXPECT_EQ(valueOf(listsP, "InfoTip"), "prop:System.Size");
    EXPECT_EQ(valueOf(listsP + "\\shell"), "theirs");
    EXPECT_FALSE(keyExists(listsQ)) << "a key left empty goes";
    EXPECT_EQ(unregisterTable(classes), S_OK) << "nothing left to remove is no failure";
}

} // namespace
