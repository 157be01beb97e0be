#include "filter/ISpecifyPropertyPagesImpl.h"

#include <memory>
#include <new>

#include <objbase.h>

#include "support/ComBoundary.h"
#include "support/LossOfRange.h"

namespace oryx {

namespace {

struct TaskMemoryFree {
    void operator()(void* memory) const { CoTaskMemFree(memory); }
};

} // namespace

STDMETHODIMP ISpecifyPropertyPagesImpl::GetPages(CAUUID* pages)
{
    if (!pages)
        return E_POINTER;
    pages->cElems = 0;
    pages->pElems = nullptr;
    return comBoundary([&] {
        const std::uint32_t count = pageCount();
        if (count == 0)
            return S_OK;
        if (count > SIZE_MAX / sizeof(GUID))
            throw std::bad_alloc();
        // Owned here until every class id is in place, so a supplier that
        // raises halfway leaves the caller nothing to free.
        std::unique_ptr<GUID[], TaskMemoryFree> ids(static_cast<GUID*>(CoTaskMemAlloc(count * sizeof(GUID))));
        if (!ids)
            throw std::bad_alloc();
        for (std::uint32_t i = 0; i < count; ++i)
            ids[i] = pageClsid(i);
        pages->cElems = rangeChecked<ULONG>(count);
        pages->pElems = ids.release();
        return S_OK;
    });
}

IUnknown* ISpecifyPropertyPagesImpl::interfaceFor(REFIID iid)
{
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISpecifyPropertyPages))
        return static_cast<ISpecifyPropertyPages*>(this);
    return nullptr;
}

} // namespace oryx
