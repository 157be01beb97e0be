#include "filter/IFileSourceFilterImpl.h"

#include "filter/MediaType.h"
#include "support/ComBoundary.h"

STDMETHODIMP IFileSourceFilterImpl::Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* /*type*/)
{
    if (!fileName)
        return E_POINTER;
    return oryx::comBoundaryCatchAll([&] {
        openFile(fileName);
        this->fileName = fileName;
        return S_OK;
    });
}

STDMETHODIMP IFileSourceFilterImpl::GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* type)
{
    if (!fileName)
        return E_POINTER;
    return oryx::comBoundary([&] {
        wchar_t* const copy = taskStringCopy(this->fileName);
        if (type) {
            MediaType& reported = MediaType::of(*type);
            reported.reset();
            reported.majortype = fileMajorType;
            reported.subtype = fileSubtype;
        }
        *fileName = copy;
        return S_OK;
    });
}

IUnknown* IFileSourceFilterImpl::interfaceFor(REFIID iid)
{
    if (IsEqualIID(iid, IID_IFileSourceFilter) || IsEqualIID(iid, IID_IUnknown))
        return static_cast<IFileSourceFilter*>(this);
    return nullptr;
}
