#include "com/IPersistImpl.h"

namespace oryx {

IPersistImpl::IPersistImpl(const CLSID* classId) : classId(classId)
{
}

STDMETHODIMP IPersistImpl::GetClassID(CLSID* out)
{
    if (!out)
        return E_POINTER;
    *out = *classIdentifier();
    return S_OK;
}

const CLSID* IPersistImpl::classIdentifier() const
{
    return classId;
}

IUnknown* IPersistImpl::interfaceFor(REFIID iid)
{
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPersist))
        return static_cast<IPersist*>(this);
    return nullptr;
}

} // namespace oryx
