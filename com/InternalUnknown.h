#pragma once

#include <unknwn.h>

namespace oryx {

// The non-delegating unknown of an object: the one IUnknown that really
// counts the object's references and answers its queries. An aggregated
// object hands exactly this pointer to its outer object; all its other
// interfaces forward to the outer instead (see DelegatingUnknown).
//
// It is a separate IUnknown base, so an object has two distinct IUnknown
// subobjects: this one and the one inside each COM interface it implements.
// IUnknownImpl is its only implementation.
class InternalUnknown : public IUnknown {
public:
    STDMETHOD(QueryInterface)(REFIID iid, void** out) override = 0;
    STDMETHOD_(ULONG, AddRef)() override = 0;
    STDMETHOD_(ULONG, Release)() override = 0;

protected:
    ~InternalUnknown() = default;
};

} // namespace oryx
