// ISpecifyPropertyPages on the test object.
#include <gtest/gtest.h>
#include <objbase.h>

#include "support/COMPtr.h"
#include "tests/filter/DescribedObject.h"

namespace {

// {C0DE3000-7E57-4A11-9000-00000000000n}
constexpr CLSID testPage(unsigned char n)
{
    return {0xc0de3000, 0x7e57, 0x4a11, {0x90, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, n}};
}

TEST(PropertyPages, GetPagesOverwritesTheCallersRecordAndNeverFreesWhatItHeld)
{
    const LONG objectsBefore = oryx::objectCount;
    {
        auto* object = new filtertest::DescribedObject;
        oryx::COMPtr<ISpecifyPropertyPages> pages;
        pages = static_cast<oryx::InternalUnknown*>(object);
        EXPECT_EQ(pages->GetPages(nullptr), E_POINTER);

        // An uninitialised record: freeing its garbage pointer would crash.
        CAUUID record = {0xcdcdcdcd, reinterpret_cast<GUID*>(0xcdcdcdcd)};
        EXPECT_EQ(pages->GetPages(&record), S_OK);
        EXPECT_EQ(record.cElems, 0u);
        EXPECT_EQ(record.pElems, nullptr);

        // A record still holding the caller's own task memory keeps it: the
        // block stays allocated and its contents untouched.
        object->pages = {testPage(1), testPage(2)};
        auto* callers = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
        ASSERT_NE(callers, nullptr);
        *callers = testPage(9);
        record = {1, callers};
        EXPECT_EQ(pages->GetPages(&record), S_OK);
        ASSERT_EQ(record.cElems, 2u);
        ASSERT_NE(record.pElems, nullptr);
        EXPECT_TRUE(IsEqualCLSID(record.pElems[0], testPage(1)));
        EXPECT_TRUE(IsEqualCLSID(record.pElems[1], testPage(2)));
        oryx::COMPtr<IMalloc> allocator;
        ASSERT_EQ(CoGetMalloc(1, allocator.receive()), S_OK);
        EXPECT_EQ(allocator->DidAlloc(callers), 1) << "the caller's block was freed";
        EXPECT_NE(record.pElems, callers);
        EXPECT_TRUE(IsEqualCLSID(*callers, testPage(9)));
        CoTaskMemFree(record.pElems);
        CoTaskMemFree(callers);

        // A page that cannot be named fails the call and leaves no list.
        object->refusedPage = 1;
        record = {0xcdcdcdcd, reinterpret_cast<GUID*>(0xcdcdcdcd)};
        EXPECT_EQ(pages->GetPages(&record), E_UNEXPECTED);
        EXPECT_EQ(record.cElems, 0u);
        EXPECT_EQ(record.pElems, nullptr);
    }
    EXPECT_EQ(oryx::objectCount, objectsBefore);
}

} // namespace
