#pragma once

#include <cstdint>

#include <ocidl.h>

namespace oryx {

// ISpecifyPropertyPages for an object with a fixed list of property pages.
//
// A subclass supplies pageCount() and pageClsid(index) for every index below
// it, and QueryInterface, AddRef and Release (usually via DelegatingUnknown);
// it chains interfaceFor to this one, which answers IID_ISpecifyPropertyPages
// and IID_IUnknown. Both suppliers may raise; GetPages then returns the
// error's HRESULT with an empty list. No lock is taken here.
class ISpecifyPropertyPagesImpl : public ISpecifyPropertyPages {
public:
    // Fills the caller's record with a new task-memory array of the page
    // class ids, which the caller frees. Whatever the record held on entry
    // is overwritten, never freed: callers pass uninitialised records.
    STDMETHOD(GetPages)(CAUUID* pages) override;

    virtual std::uint32_t pageCount() = 0;
    // `index` is below pageCount(); the class id outlives the call.
    virtual const CLSID& pageClsid(std::uint32_t index) = 0;

    virtual IUnknown* interfaceFor(REFIID iid);

protected:
    ~ISpecifyPropertyPagesImpl() = default;
};

} // namespace oryx
