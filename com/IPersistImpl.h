#pragma once

#include <objidl.h>

namespace oryx {

// Answers IPersist::GetClassID for a class that has a class identifier.
// The final class supplies QueryInterface, AddRef and Release, usually as
// DelegatingUnknown<Owner, IPersistImpl>, and chains interfaceFor to this
// mix-in's, which answers IID_IUnknown and IID_IPersist.
class IPersistImpl : public IPersist {
public:
    // `classId` is a static constant of the concrete class; it is not copied.
    explicit IPersistImpl(const CLSID* classId);

    STDMETHOD(GetClassID)(CLSID* out) override;

    virtual const CLSID* classIdentifier() const;
    virtual IUnknown* interfaceFor(REFIID iid);

protected:
    ~IPersistImpl() = default;

private:
    const CLSID* const classId;
};

} // namespace oryx
