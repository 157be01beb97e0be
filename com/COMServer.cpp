#include "com/COMServer.h"

#include <cstring>

#include "com/ArgumentChecks.h"
#include "com/ClassRegistrar.h"
#include "com/Factory.h"
#include "com/IUnknownImpl.h"
#include "support/COMError.h"
#include "support/COMPtr.h"
#include "support/ComBoundary.h"

namespace oryx {

COMServer* theServer = nullptr;

namespace {

// An aligned 32-bit load is atomic on every processor the module runs on;
// volatile keeps the compiler from caching it.
LONG atomicRead(const LONG& value)
{
    return *static_cast<const volatile LONG*>(&value);
}

} // namespace

HRESULT COMServer::getClassObject(REFCLSID clsid, REFIID iid, void** out) const
{
    if (isNullReference(clsid) || isNullReference(iid) || !out)
        return E_POINTER;
    const ClassInfo* record = nullptr;
    for (std::uint32_t i = 0; i < count && !record; ++i) {
        if (std::memcmp(classes[i].clsid, &clsid, sizeof(CLSID)) == 0)
            record = &classes[i];
    }
    if (!record || !record->create)
        return CLASS_E_CLASSNOTAVAILABLE;
    *out = nullptr;
    return comBoundary([&] {
        // Held only for the query: a refused interface destroys the class
        // object here, a granted one leaves the caller the only reference.
        const COMPtr<IClassFactory> factory(new Factory(record->create));
        return factory->QueryInterface(iid, out);
    });
}

HRESULT COMServer::canUnloadNow() const
{
    return atomicRead(objectCount) != 0 || atomicRead(lockCount) > 0 ? S_FALSE : S_OK;
}

void COMServer::lock()
{
    InterlockedIncrement(&lockCount);
}

void COMServer::unlock()
{
    LONG current = atomicRead(lockCount);
    for (;;) {
        if (current <= 0)
            throw COMError(E_UNEXPECTED);
        const LONG seen = InterlockedCompareExchange(&lockCount, current - 1, current);
        if (seen == current)
            return;
        current = seen;
    }
}

LONG COMServer::locks() const
{
    return atomicRead(lockCount);
}

HRESULT COMServer::registerClasses(HMODULE module) const
{
    return comBoundary([&] {
        ClassRegistrar registrar;
        registrar.registerClasses(classes, count, module);
        return S_OK;
    });
}

HRESULT COMServer::unregisterClasses() const
{
    return comBoundary([&] {
        ClassRegistrar registrar;
        registrar.unregisterClasses(classes, count);
        return S_OK;
    });
}

} // namespace oryx
