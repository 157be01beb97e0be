#include <stdexcept>

#include <dshow.h>
#include <gtest/gtest.h>

#include "support/COMError.h"
#include "support/COMPtr.h"
#include "support/ComBoundary.h"
#include "support/Diagnostics.h"

using namespace oryx;

namespace {

// Counts its references, answers IUnknown and IPersist only.
class Counted : public IPersist {
public:
    ULONG references = 1;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_IPersist) {
            *out = static_cast<IPersist*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override { return --references; }
    STDMETHODIMP GetClassID(CLSID* clsid) override
    {
        *clsid = CLSID_NULL;
        return S_OK;
    }
};

TEST(COMPtr, HoldsExactlyOneReference)
{
    Counted object;
    {
        COMPtr<IPersist> first(&object);
        EXPECT_EQ(object.references, 2u);
        COMPtr<IPersist> second(first);
        EXPECT_EQ(object.references, 3u);
        second = first;
        EXPECT_EQ(object.references, 3u) << "self-equal assignment must not leak or drop";
        second.release();
        second.release();
        EXPECT_EQ(object.references, 2u);
    }
    EXPECT_EQ(object.references, 1u);
}

TEST(COMPtr, QueriesOnAssignmentFromAnotherInterface)
{
    Counted object;
    COMPtr<IPersist> persist;
    persist = static_cast<IUnknown*>(&object);
    EXPECT_EQ(persist.get(), &object);
    persist = static_cast<IUnknown*>(nullptr);
    EXPECT_EQ(persist.get(), nullptr);
    EXPECT_EQ(object.references, 1u);
}

TEST(COMPtr, RaisesANamedErrorWhenTheQueryFails)
{
    Counted object;
    COMPtr<IBaseFilter> filter;
    try {
        filter = static_cast<IUnknown*>(&object);
        FAIL() << "nothing raised";
    } catch (const COMError& e) {
        EXPECT_EQ(e.hresult(), E_NOINTERFACE);
        EXPECT_EQ(std::string(e.what()).rfind("Can't query interface " + guidName(IID_IBaseFilter, true) + ": ", 0), 0u)
            << e.what();
    }
    EXPECT_EQ(filter.get(), nullptr);
    EXPECT_EQ(object.references, 1u);
}

TEST(COMPtr, RefusesToDereferenceNothing)
{
    COMPtr<IPersist> empty;
    EXPECT_THROW(empty->GetClassID(nullptr), std::runtime_error);
    EXPECT_EQ(comBoundary([&] {
                  CLSID clsid;
                  return empty->GetClassID(&clsid);
              }),
              E_FAIL);
}

TEST(COMPtr, NamesTheClassAndInterfaceWhenCreationFails)
{
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    const CLSID unknownClass = {0x01234567, 0x89ab, 0xcdef, {1, 2, 3, 4, 5, 6, 7, 8}};
    try {
        COMPtr<IBaseFilter> filter(unknownClass);
        FAIL() << "nothing raised";
    } catch (const COMError& e) {
        EXPECT_EQ(e.hresult(), REGDB_E_CLASSNOTREG);
        const std::string expected = "Unable to create instance of class {01234567-89AB-CDEF-0102-030405060708}"
                                     " with interface " +
                                     guidName(IID_IBaseFilter, true) + ": ";
        EXPECT_EQ(std::string(e.what()).rfind(expected, 0), 0u) << e.what();
    }
    CoUninitialize();
}

} // namespace
