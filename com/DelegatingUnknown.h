#pragma once

#include <unknwn.h>

namespace oryx {

// The IUnknown methods of one COM interface that `Owner` implements: all
// three forward to the owner's controllingUnknown() (IUnknownImpl), so the
// interface never counts or answers a query itself. A class states each of
// its interfaces once as a base:
//
//     class Factory : public DelegatingUnknown<Factory, IClassFactory>,
//                     public IUnknownImpl { ... };
//
// `Owner` is the class (or a base of the most derived class) that derives
// from both this and IUnknownImpl. `Interface` may also be a mix-in that
// leaves the three methods pure (IPersistImpl); its constructors are
// inherited.
template <typename Owner, typename Interface>
class DelegatingUnknown : public Interface {
public:
    using Interface::Interface;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        return owner()->controllingUnknown()->QueryInterface(iid, out);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return owner()->controllingUnknown()->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner()->controllingUnknown()->Release(); }

private:
    Owner* owner() { return static_cast<Owner*>(this); }
};

} // namespace oryx
