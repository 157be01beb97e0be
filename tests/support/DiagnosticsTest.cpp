// A process with no name files: every name comes from the patterns or the
// platform's registrations, and HRESULTs are described by number.

#include <string>

#include <dshow.h>
#include <gtest/gtest.h>

#include "support/COMError.h"
#include "support/Diagnostics.h"
#include "support/RegistryKey.h"
#include "support/VendorKey.h"
#include "tests/common/GuidText.h"
#include "tests/support/VendorKeyScope.h"

using namespace oryx;

namespace {

GUID withData1(GUID guid, unsigned long data1)
{
    guid.Data1 = data1;
    return guid;
}

class WithoutVendorKey : public testing::Test {
protected:
    VendorKeyScope vendorKey;
};

TEST_F(WithoutVendorKey, NamesRegisteredInterfacesAndClassesFromThePlatformsRegistry)
{
    EXPECT_EQ(guidName(IID_IUnknown, true), "IID_IUnknown");
    EXPECT_EQ(guidName(IID_IBaseFilter, true), "IID_IBaseFilter");
    EXPECT_EQ(guidName(CLSID_FilterGraph, true), "CLSID_Filter Graph");
    const GUID unknown = guidOf("{0BAD0BAD-1234-5678-9ABC-DEF012345678}");
    EXPECT_EQ(guidName(unknown, true), "{0BAD0BAD-1234-5678-9ABC-DEF012345678}");
}

TEST_F(WithoutVendorKey, UnreadableOrEmptyRegistrationsGiveNoName)
{
    const char* dwordInterface = "{0BAD0BAD-0000-4000-8000-000000000001}";
    const char* emptyInterface = "{0BAD0BAD-0000-4000-8000-000000000002}";
    const std::string classes = "Software\\Classes\\";
    RegistryKey key;
    key.create(HKEY_LOCAL_MACHINE, classes + "Interface\\" + dwordInterface);
    const DWORD number = 5;
    key.setValue("", reinterpret_cast<const BYTE*>(&number), sizeof number, REG_DWORD);
    key.create(HKEY_LOCAL_MACHINE, classes + "CLSID\\" + dwordInterface);
    key.setString("", "Oryx Test Class");
    key.create(HKEY_LOCAL_MACHINE, classes + "Interface\\" + emptyInterface);
    key.setString("", "");
    key.close();

    EXPECT_EQ(guidName(guidOf(dwordInterface), true), "CLSID_Oryx Test Class")
        << "a default value of another type is no interface name, and the class lookup still runs";
    EXPECT_EQ(guidName(guidOf(emptyInterface), true), emptyInterface);

    for (const char* guid : {dwordInterface, emptyInterface}) {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, (classes + "Interface\\" + guid).c_str());
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, (classes + "CLSID\\" + guid).c_str());
    }
}

TEST_F(WithoutVendorKey, DescribesHResultsByNumber)
{
    EXPECT_EQ(describeHRESULT(E_FAIL), "HRESULT value 80004005");
    EXPECT_EQ(describeHRESULT(S_OK), "HRESULT value 0");
    EXPECT_EQ(describeHRESULT(0x0004F001), "HRESULT value 4f001");
    EXPECT_STREQ(COMError(E_FAIL, "Can't render").what(), "Can't render: HRESULT value 80004005");
}

TEST_F(WithoutVendorKey, IsNoDevelopmentSystem)
{
    EXPECT_FALSE(isDevelopmentSystem());
}

TEST(GuidNamePatterns, RecogniseManufacturerIdentifiersUpTo65534)
{
    const GUID manufacturer = guidOf("{D5A47FA7-6D98-11D1-A21A-00A0C9223196}");
    EXPECT_EQ(guidName(manufacturer, true), "Manufacturer ID 0");
    EXPECT_EQ(guidName(withData1(manufacturer, 0xD5A48000), true), "Manufacturer ID 89");
    EXPECT_EQ(guidName(withData1(manufacturer, 0xD5A57FA5), true), "Manufacturer ID 65534");
    EXPECT_EQ(guidName(withData1(manufacturer, 0xD5A57FA6), true), "{D5A57FA6-6D98-11D1-A21A-00A0C9223196}");
    EXPECT_EQ(guidName(withData1(manufacturer, 0xD5A47FA6), true), "{D5A47FA6-6D98-11D1-A21A-00A0C9223196}");
}

TEST(GuidNamePatterns, RecogniseProductIdentifiersUpTo65534)
{
    const GUID product = guidOf("{E36DC2AC-6D9A-11D1-A21A-00A0C9223196}");
    EXPECT_EQ(guidName(product, true), "Product ID 0");
    EXPECT_EQ(guidName(withData1(product, 0xE36EC2AA), true), "Product ID 65534");
    EXPECT_EQ(guidName(withData1(product, 0xE36EC2AB), true), "{E36EC2AB-6D9A-11D1-A21A-00A0C9223196}");
    EXPECT_EQ(guidName(guidOf("{E36DC2AC-6D98-11D1-A21A-00A0C9223196}"), true),
              "{E36DC2AC-6D98-11D1-A21A-00A0C9223196}")
        << "the manufacturer's Data2 with a product's Data1 is neither";
    EXPECT_EQ(guidName(guidOf("{E36DC2AC-6D9A-11D1-A21A-00A0C9223197}"), true),
              "{E36DC2AC-6D9A-11D1-A21A-00A0C9223197}");
}

TEST(GuidNamePatterns, NameFourCharacterCodeSubtypesByTheirLettersWhenPrintable)
{
    EXPECT_EQ(guidName(MEDIASUBTYPE_YUY2, true), "FOURCC \"YUY2\"");
    EXPECT_EQ(guidName(guidOf("{41414100-0000-0010-8000-00AA00389B71}"), true), "FOURCC 1094795520")
        << "a first byte of 0 gives the decimal Data1";
    EXPECT_EQ(guidName(guidOf("{7F414141-0000-0010-8000-00AA00389B71}"), true), "FOURCC 2134982977");
    EXPECT_EQ(guidName(MEDIASUBTYPE_PCM, true), "FOURCC 1");
    EXPECT_EQ(guidName(guidOf("{59555932-0000-0010-8000-00AA00389B72}"), true),
              "{59555932-0000-0010-8000-00AA00389B72}");
}

TEST(GuidNamePatterns, NonSymbolicNamesAreAlwaysTheBracedForm)
{
    EXPECT_EQ(guidName(IID_IUnknown, false), "{00000000-0000-0000-C000-000000000046}");
    EXPECT_EQ(guidName(MEDIASUBTYPE_YUY2, false), "{32595559-0000-0010-8000-00AA00389B71}");
    EXPECT_EQ(guidName(guidOf("{D5A47FA7-6D98-11D1-A21A-00A0C9223196}"), false),
              "{D5A47FA7-6D98-11D1-A21A-00A0C9223196}");
}

class DevelopmentSwitch : public testing::Test {
protected:
    VendorKeyScope scope;
    RegistryKey vendor;

    void SetUp() override { vendor.create(HKEY_LOCAL_MACHINE, vendorKey::keyName); }

    void store(DWORD type, const void* data, DWORD size)
    {
        vendor.setValue(vendorKey::developmentSwitchValue, static_cast<const BYTE*>(data), size, type);
    }
};

TEST_F(DevelopmentSwitch, IsReadAsAThirtyTwoBitValue)
{
    EXPECT_FALSE(isDevelopmentSystem()) << "a vendor key without the value";
    const DWORD one = 1;
    const DWORD zero = 0;
    store(REG_DWORD, &one, 4);
    EXPECT_TRUE(isDevelopmentSystem());
    store(REG_DWORD, &zero, 4);
    EXPECT_FALSE(isDevelopmentSystem());
    const unsigned char bytes[4] = {0, 0, 1, 0};
    store(REG_BINARY, bytes, 4);
    EXPECT_TRUE(isDevelopmentSystem());
    store(REG_BINARY, &zero, 4);
    EXPECT_FALSE(isDevelopmentSystem());
}

TEST_F(DevelopmentSwitch, AnythingElseMeansNo)
{
    const DWORD one = 1;
    store(REG_SZ, "1", 2);
    EXPECT_FALSE(isDevelopmentSystem());
    store(REG_BINARY, &one, 2);
    EXPECT_FALSE(isDevelopmentSystem()) << "two bytes are no 32-bit value";
    store(REG_SZ, "yes, please", 12);
    EXPECT_FALSE(isDevelopmentSystem()) << "a value too long to read";
}

} // namespace
