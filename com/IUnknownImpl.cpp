#include "com/IUnknownImpl.h"

namespace oryx {

LONG objectCount = 0;

IUnknownImpl::IUnknownImpl(IUnknown* outer) : outer(outer)
{
    InterlockedIncrement(&objectCount);
}

IUnknownImpl::~IUnknownImpl()
{
    InterlockedDecrement(&objectCount);
}

STDMETHODIMP IUnknownImpl::QueryInterface(REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    // An aggregate's outer object controls the inner one only through this
    // pointer; any interface of the inner would hand the query straight back
    // to the outer. So the lookup chain is not asked, whatever it answers
    // for IID_IUnknown when the object stands alone.
    IUnknown* const found =
        outer && IsEqualIID(iid, IID_IUnknown) ? static_cast<InternalUnknown*>(this) : interfaceFor(iid);
    *out = found;
    if (!found)
        return E_NOINTERFACE;
    // Through the pointer handed out: an interface of an aggregated object
    // counts on the outer object, which is also what its Release will lower.
    found->AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) IUnknownImpl::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&refCount));
}

STDMETHODIMP_(ULONG) IUnknownImpl::Release()
{
    const LONG remaining = InterlockedDecrement(&refCount);
    if (remaining > 0)
        return static_cast<ULONG>(remaining);
    // References taken and dropped by the destructor bring the count back to
    // 1, never to 0 again, so they cannot start a second destruction.
    refCount = 1;
    delete this;
    return 0;
}

IUnknown* IUnknownImpl::interfaceFor(REFIID iid)
{
    return IsEqualIID(iid, IID_IUnknown) ? static_cast<InternalUnknown*>(this) : nullptr;
}

IUnknown* IUnknownImpl::controllingUnknown()
{
    return outer ? outer : static_cast<InternalUnknown*>(this);
}

} // namespace oryx
