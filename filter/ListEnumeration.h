#pragma once

#include <dshow.h>

#include "com/DelegatingUnknown.h"
#include "com/IUnknownImpl.h"
#include "support/AutoLock.h"
#include "support/COMPtr.h"
#include "support/ComBoundary.h"
#include "support/CriticalSection.h"

// The COM enumerators a filter hands out (IEnumPins, IEnumMediaTypes): a
// position in a list that belongs to someone else and may change under it.
// The list carries a version; an enumerator made for another version answers
// VFW_E_ENUM_OUT_OF_SYNC until Reset.
//
// `Derived` supplies, all called under listLock():
//   oryx::CriticalSection& listLock();
//   LONG listVersion();
//   ULONG listSize();
//   Item fetch(ULONG index);   // a new reference or allocation for the caller
//   Derived* copyAt(LONG version, ULONG position);
// An item that cannot be produced is passed over: what Next delivered before
// it stands, and a failure on the first item is Next's answer.
template <typename Derived, typename Interface, typename Item>
class ListEnumeration : public oryx::DelegatingUnknown<ListEnumeration<Derived, Interface, Item>, Interface>,
                        public oryx::IUnknownImpl {
public:
    STDMETHOD(Next)(ULONG count, Item* items, ULONG* fetched) override
    {
        if (!items || (!fetched && count > 1))
            return E_POINTER;
        if (count == 0)
            return E_INVALIDARG;
        return oryx::comBoundary([&] {
            oryx::AutoLock lock(self().listLock());
            if (version != self().listVersion())
                return VFW_E_ENUM_OUT_OF_SYNC;
            const ULONG available = self().listSize();
            ULONG delivered = 0;
            while (delivered < count && position < available) {
                try {
                    items[delivered] = self().fetch(position++);
                } catch (...) {
                    if (delivered == 0)
                        throw;
                    break;
                }
                ++delivered;
            }
            if (fetched)
                *fetched = delivered;
            return delivered == count ? S_OK : S_FALSE;
        });
    }

    STDMETHOD(Skip)(ULONG count) override
    {
        return oryx::comBoundary([&] {
            oryx::AutoLock lock(self().listLock());
            position += count;
            return position <= self().listSize() ? S_OK : S_FALSE;
        });
    }

    STDMETHOD(Reset)() override
    {
        return oryx::comBoundary([&] {
            oryx::AutoLock lock(self().listLock());
            position = 0;
            version = self().listVersion();
            return S_OK;
        });
    }

    STDMETHOD(Clone)(Interface** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        return oryx::comBoundary([&] {
            oryx::AutoLock lock(self().listLock());
            const oryx::COMPtr<Interface> copy(self().copyAt(version, position));
            *out = copy.get();
            (*out)->AddRef();
            return S_OK;
        });
    }

    IUnknown* interfaceFor(REFIID iid) override
    {
        if (IUnknown* found = oryx::lookUpInterface<Interface>(this, iid))
            return found;
        return IUnknownImpl::interfaceFor(iid);
    }

protected:
    ListEnumeration(LONG version, ULONG position) : IUnknownImpl(nullptr), version(version), position(position) {}

private:
    Derived& self() { return static_cast<Derived&>(*this); }

    LONG version;
    ULONG position;
};
