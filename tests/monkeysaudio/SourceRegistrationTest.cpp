// The module's registration requests over class tables of the source's one
// record, against Wine's registry and its real filter mapper. The expected
// GUID texts are written out here, not made by the code under test.
#include <map>
#include <string>

#include <dshow.h>
#include <gtest/gtest.h>

#include "com/COMServer.h"
#include "com/IUnknownImpl.h"
#include "monkeysaudio/SourceIdentifiers.h"
#include "monkeysaudio/SourceRegistration.h"
#include "support/RegistryKey.h"
#include "support/VendorKey.h"
#include "tests/common/RegistryProbe.h"
#include "tests/monkeysaudio/SourceRegistrationScope.h"
#include "tests/support/VendorKeyScope.h"

using registryprobe::keyExists;
using registryprobe::snapshot;
using registryprobe::valueOf;
using Keys = SourceRegistrationScope;

namespace {

const oryx::ClassInfo sourceTable[] = {
    {&sourceClassId, 0x20, sourceClassName, nullptr, &sourceFilterRegistration, nullptr}};
// The same class with server kind 7, which the class registration refuses
// after writing the class key.
const oryx::ClassInfo refusedTable[] = {
    {&sourceClassId, 7, sourceClassName, nullptr, &sourceFilterRegistration, nullptr}};

class SourceRegistration : public testing::Test {
protected:
    VendorKeyScope vendorKey;
    SourceRegistrationScope registration;
    const LONG objectsBefore = oryx::objectCount;
    const oryx::COMServer server{sourceTable, 1};

    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }
    void TearDown() override
    {
        EXPECT_EQ(oryx::objectCount, objectsBefore);
        CoUninitialize();
    }

    static void markDevelopmentSystem()
    {
        oryx::RegistryKey key;
        key.create(HKEY_LOCAL_MACHINE, oryx::vendorKey::keyName);
        const DWORD on = 1;
        key.setValue(oryx::vendorKey::developmentSwitchValue, reinterpret_cast<const BYTE*>(&on), sizeof on, REG_DWORD);
    }

    static void expectTheExtensionKeys()
    {
        EXPECT_EQ(snapshot(Keys::extensionKey).size(), 3u) << "exactly three values";
        EXPECT_EQ(valueOf(Keys::extensionKey, "Media Type"), "{E436EB83-524F-11CE-9F53-0020AF0BA770}");
        EXPECT_EQ(valueOf(Keys::extensionKey, "Subtype"), "{A4D1C730-5E92-4B6F-8E13-2C7B9F04D5A8}");
        EXPECT_EQ(valueOf(Keys::extensionKey, "Source Filter"), "{6E2B9F14-8C3D-4A57-9D21-5F0A7C3E1B92}");
        EXPECT_EQ(valueOf(Keys::playerTypesKey, Keys::playerValue), "*.ape");
        EXPECT_EQ(valueOf(Keys::playerDescriptionsKey, Keys::playerValue), "Monkey's Audio File (*.ape)");
    }

    // Everything registration writes for the source, for comparing before
    // and after.
    static std::map<std::string, std::string> everything()
    {
        std::map<std::string, std::string> all;
        for (const char* key : {Keys::classKey, Keys::filterEntry, Keys::extensionKey}) {
            const auto part = snapshot(key);
            all.insert(part.begin(), part.end());
        }
        all["player type"] = valueOf(Keys::playerTypesKey, Keys::playerValue);
        all["player description"] = valueOf(Keys::playerDescriptionsKey, Keys::playerValue);
        return all;
    }
};

TEST_F(SourceRegistration, RegistersTheClassItsFilterAndTheApeExtensionTheSameWayTwice)
{
    ASSERT_EQ(registerServer(server, nullptr), S_OK);
    expectTheExtensionKeys();
    EXPECT_EQ(valueOf(Keys::classKey), "Monkey's Audio File Source (Tonbrook)");
    EXPECT_EQ(valueOf(std::string(Keys::classKey) + "\\InprocServer32", "ThreadingModel"), "Both");
    EXPECT_EQ(valueOf(Keys::filterEntry, "FriendlyName"), "Monkey's Audio File Source (Tonbrook)");
    EXPECT_TRUE(registryprobe::mapperFinds(sourceClassId, MEDIATYPE_Audio, MEDIASUBTYPE_PCM, MERIT_NORMAL))
        << "a PCM output pin at normal merit";

    const auto first = everything();
    ASSERT_EQ(registerServer(server, nullptr), S_OK);
    EXPECT_EQ(everything(), first);
}

TEST_F(SourceRegistration, UnregisteringIsRefusedAndChangesNothingWithoutTheDevelopmentMarker)
{
    ASSERT_EQ(registerServer(server, nullptr), S_OK);
    const auto registered = everything();
    EXPECT_EQ(unregisterServer(server), E_NOTIMPL);
    EXPECT_EQ(everything(), registered);
    EXPECT_TRUE(registryprobe::mapperFinds(sourceClassId, MEDIATYPE_Audio, MEDIASUBTYPE_PCM));
}

TEST_F(SourceRegistration, UnregisteringOnADevelopmentSystemRemovesTheClassAndFilterButKeepsTheExtension)
{
    ASSERT_EQ(registerServer(server, nullptr), S_OK);
    markDevelopmentSystem();
    EXPECT_EQ(unregisterServer(server), S_OK);
    EXPECT_FALSE(keyExists(Keys::classKey));
    EXPECT_FALSE(keyExists(Keys::filterEntry));
    EXPECT_FALSE(registryprobe::mapperFinds(sourceClassId, MEDIATYPE_Audio, MEDIASUBTYPE_PCM));
    expectTheExtensionKeys();
}

TEST_F(SourceRegistration, AFailingClassRegistrationIsReportedAfterTheExtensionIsWritten)
{
    EXPECT_EQ(registerServer(oryx::COMServer(refusedTable, 1), nullptr), E_FAIL);
    expectTheExtensionKeys();
    EXPECT_EQ(valueOf(Keys::classKey), "Monkey's Audio File Source (Tonbrook)");
    EXPECT_FALSE(keyExists(Keys::filterEntry)) << "the class failed before its filter was registered";
}

} // namespace
