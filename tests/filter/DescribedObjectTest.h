#pragma once

// A test of one interface of the described object: the object made afresh,
// the interface held in `tested`, COM started, and control.tlb unregistered
// before and after (loading the file by name registers it; each test starts
// from the file and leaves the prefix's registrations as it found them).
// Ends by checking that no object is left.
#include <gtest/gtest.h>

#include "support/COMPtr.h"
#include "tests/filter/DescribedObject.h"

namespace filtertest {

template <typename Interface>
class DescribedObjectTest : public testing::Test {
protected:
    // {56A868B0-0AD4-11CE-B03A-0020AF0BA770}, at the version the test's
    // control.tlb carries.
    static constexpr GUID typeLibrary = {0x56a868b0, 0x0ad4, 0x11ce, {0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};

    const LONG objectsBefore = oryx::objectCount;
    DescribedObject* object = new DescribedObject;
    oryx::COMPtr<Interface> tested;

    static void forgetTheTypeLibrary() { UnRegisterTypeLib(typeLibrary, 0, 1, LOCALE_NEUTRAL, SYS_WIN32); }

    void SetUp() override
    {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        forgetTheTypeLibrary();
        tested = static_cast<oryx::InternalUnknown*>(object);
    }
    void TearDown() override
    {
        tested.release();
        EXPECT_EQ(oryx::objectCount, objectsBefore);
        forgetTheTypeLibrary();
        CoUninitialize();
    }
};

} // namespace filtertest
