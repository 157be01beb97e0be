#pragma once

// COM classes of the tests' own, built on the identity machinery the way the
// system's classes are, and an outer object that aggregates them.
#include <stdexcept>

#include <dshow.h>

#include "com/ClassInfo.h"
#include "com/CreateInstanceImpl.h"
#include "com/DelegatingUnknown.h"
#include "com/IPersistImpl.h"
#include "com/IUnknownImpl.h"
#include "support/COMError.h"

namespace comtest {

// {5A0F3C61-1B7E-4C2D-9E84-3D6B2A71C0F1}
inline constexpr CLSID CLSID_Widget = {0x5a0f3c61, 0x1b7e, 0x4c2d, {0x9e, 0x84, 0x3d, 0x6b, 0x2a, 0x71, 0xc0, 0xf1}};

// Shaped like a filter: one interface of its own in front, IPersistImpl
// answering IID_IUnknown and IID_IPersist behind it.
class Widget : public oryx::DelegatingUnknown<Widget, IQualityControl>,
               public oryx::IUnknownImpl,
               public oryx::DelegatingUnknown<Widget, oryx::IPersistImpl>,
               public oryx::CreateInstanceImpl<Widget> {
public:
    explicit Widget(IUnknown* outer) : IUnknownImpl(outer), DelegatingUnknown<Widget, oryx::IPersistImpl>(&CLSID_Widget)
    {
    }

    STDMETHODIMP Notify(IBaseFilter*, Quality) override { return S_OK; }
    STDMETHODIMP SetSink(IQualityControl*) override { return S_OK; }

    IUnknown* interfaceFor(REFIID iid) override
    {
        if (IUnknown* found = oryx::lookUpInterface<IQualityControl>(this, iid))
            return found;
        return IPersistImpl::interfaceFor(iid);
    }
};

// Constructors that fail the way real ones do.
template <typename Failure>
class Refusing : public oryx::IUnknownImpl, public oryx::CreateInstanceImpl<Refusing<Failure>> {
public:
    explicit Refusing(IUnknown* outer) : IUnknownImpl(outer) { throw Failure(); }
};
struct PreconditionFailure : std::runtime_error {
    PreconditionFailure() : std::runtime_error("Can't build the object") {}
};
struct AccessFailure : oryx::COMError {
    AccessFailure() : oryx::COMError(E_ACCESSDENIED, "Can't open the object's resources") {}
};

inline oryx::InternalUnknown* createNothing(IUnknown*)
{
    return nullptr;
}

// A hand-written outer object that aggregates a Widget made by `factory`
// and exposes the Widget's IQualityControl and IPersist as its own.
class Outer final : public IUnknown {
public:
    LONG references = 1;
    IUnknown* inner = nullptr;
    bool* destroyed = nullptr;

    explicit Outer(bool* destroyed) : destroyed(destroyed) {}
    HRESULT aggregate(IClassFactory* factory)
    {
        return factory->CreateInstance(this, IID_IUnknown, reinterpret_cast<void**>(&inner));
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (IsEqualIID(iid, IID_IUnknown)) {
            *out = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        if (inner && (IsEqualIID(iid, IID_IQualityControl) || IsEqualIID(iid, IID_IPersist)))
            return inner->QueryInterface(iid, out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG remaining = InterlockedDecrement(&references);
        if (remaining == 0) {
            // The COM rule for an outer object: guard its own count while
            // the inner is released, since that may call back into it.
            references = 1;
            if (inner)
                inner->Release();
            *destroyed = true;
            delete this;
        }
        return static_cast<ULONG>(remaining);
    }
};

} // namespace comtest
