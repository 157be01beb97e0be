#include "com/Factory.h"

#include <new>

#include "com/ArgumentChecks.h"
#include "com/COMServer.h"
#include "support/COMPtr.h"
#include "support/ComBoundary.h"

namespace oryx {

Factory::Factory(CreateFunction create) : IUnknownImpl(nullptr), create(create)
{
}

STDMETHODIMP Factory::CreateInstance(IUnknown* outer, REFIID iid, void** out)
{
    if (isNullReference(iid) || !out)
        return E_POINTER;
    // A caller that tests only the result may still release what it got
    // back, so a failure never leaves the out-pointer as it was.
    *out = nullptr;
    if (outer && !IsEqualIID(iid, IID_IUnknown))
        return CLASS_E_NOAGGREGATION;
    return comBoundary([&] {
        InternalUnknown* const created = create(outer);
        if (!created)
            throw std::bad_alloc();
        // The object is born without a reference; this one destroys it when
        // the query fails and leaves the caller's alone when it succeeds.
        const COMPtr<IUnknown> object(created);
        return object->QueryInterface(iid, out);
    });
}

STDMETHODIMP Factory::LockServer(BOOL lock)
{
    return comBoundary([&] {
        if (lock)
            theServer->lock();
        else
            theServer->unlock();
        return S_OK;
    });
}

IUnknown* Factory::interfaceFor(REFIID iid)
{
    if (IUnknown* found = lookUpInterface<IClassFactory>(this, iid))
        return found;
    return IUnknownImpl::interfaceFor(iid);
}

} // namespace oryx
