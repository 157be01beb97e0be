#pragma once

#include <windows.h>

#include "com/InternalUnknown.h"

namespace oryx {

// Every COM object of the module derives from IUnknownImpl, which gives it
// its identity, its reference count and the module-wide object count.
//
// A subclass must supply: nothing; it overrides interfaceFor to answer the
// interface identifiers it adds, in front of its base's answers:
//
//     IUnknown* interfaceFor(REFIID iid) override
//     {
//         if (IUnknown* found = lookUpInterface<IEnumPins>(this, iid))
//             return found;
//         return IUnknownImpl::interfaceFor(iid);
//     }
//
// Each COM interface base forwards its IUnknown methods to
// controllingUnknown() through DelegatingUnknown. A subclass may override
// AddRef and Release to count on another object (pins count on their
// filter); it must not touch refCount.
//
// An object is born with no reference; whoever creates it takes the first
// through QueryInterface or AddRef, and the Release that brings the count to
// 0 destroys it. Nothing here is locked: the counts are interlocked.
class IUnknownImpl : public InternalUnknown {
public:
    explicit IUnknownImpl(IUnknown* outer);
    IUnknownImpl(const IUnknownImpl&) = delete;
    IUnknownImpl& operator=(const IUnknownImpl&) = delete;
    virtual ~IUnknownImpl();

    STDMETHOD(QueryInterface)(REFIID iid, void** out) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;

    // The interface handed out for `iid`, or null; takes no reference and
    // must give the same pointer on every call, which keeps COM identity
    // stable. This base answers IID_IUnknown with the non-delegating unknown.
    virtual IUnknown* interfaceFor(REFIID iid);

    // The unknown that every interface of this object forwards to: the outer
    // object's when aggregated, else this object's own non-delegating one.
    IUnknown* controllingUnknown();

private:
    // Not counted: the outer object owns this one, not the other way round.
    IUnknown* const outer;
    LONG refCount = 0;
};

// Living objects built on IUnknownImpl in this module, class objects
// included; the module may be unloaded only while it is 0.
extern LONG objectCount;

// One step of an interface lookup chain: `object` viewed as the first of
// `Interfaces` whose identifier is `iid`, or null.
template <typename... Interfaces, typename Object>
IUnknown* lookUpInterface(Object* object, REFIID iid)
{
    IUnknown* found = nullptr;
    ((IsEqualIID(iid, __uuidof(Interfaces)) ? (found = static_cast<Interfaces*>(object), true) : false) || ...);
    return found;
}

} // namespace oryx
