#include "filter/IAMMediaContentImpl.h"

#include "filter/BasicString.h"
#include "filter/ControlTypeLibrary.h"
#include "support/ComBoundary.h"

namespace {

// The properties nobody supplies: the out-pointer is cleared so that a
// caller freeing it regardless frees nothing.
HRESULT notImplemented(BSTR* out)
{
    if (out)
        *out = nullptr;
    return E_NOTIMPL;
}

} // namespace

IAMMediaContentImpl::IAMMediaContentImpl()
    : IDispatchImpl(controltypes::libraryFile, &controltypes::libraryId, controltypes::libraryMajor,
                    controltypes::libraryMinor, &__uuidof(IAMMediaContent))
{
}

// The caller's *out is an out-parameter, never an earlier string of ours:
// it is overwritten, not reallocated or freed.
HRESULT IAMMediaContentImpl::supplied(BSTR* out, std::wstring (IAMMediaContentImpl::*supplier)())
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    return oryx::comBoundary([&] {
        *out = newBasicString((this->*supplier)());
        return S_OK;
    });
}

STDMETHODIMP IAMMediaContentImpl::get_AuthorName(BSTR* out)
{
    return supplied(out, &IAMMediaContentImpl::authorName);
}

STDMETHODIMP IAMMediaContentImpl::get_Title(BSTR* out)
{
    return supplied(out, &IAMMediaContentImpl::title);
}

STDMETHODIMP IAMMediaContentImpl::get_Rating(BSTR* out)
{
    return supplied(out, &IAMMediaContentImpl::rating);
}

STDMETHODIMP IAMMediaContentImpl::get_Description(BSTR* out)
{
    return supplied(out, &IAMMediaContentImpl::description);
}

STDMETHODIMP IAMMediaContentImpl::get_Copyright(BSTR* out)
{
    return supplied(out, &IAMMediaContentImpl::copyright);
}

STDMETHODIMP IAMMediaContentImpl::get_BaseURL(BSTR* out)
{
    return supplied(out, &IAMMediaContentImpl::baseUrl);
}

STDMETHODIMP IAMMediaContentImpl::get_LogoURL(BSTR* out)
{
    return supplied(out, &IAMMediaContentImpl::logoUrl);
}

STDMETHODIMP IAMMediaContentImpl::get_LogoIconURL(BSTR* out)
{
    return notImplemented(out);
}

STDMETHODIMP IAMMediaContentImpl::get_WatermarkURL(BSTR* out)
{
    return notImplemented(out);
}

STDMETHODIMP IAMMediaContentImpl::get_MoreInfoURL(BSTR* out)
{
    return notImplemented(out);
}

STDMETHODIMP IAMMediaContentImpl::get_MoreInfoBannerImage(BSTR* out)
{
    return notImplemented(out);
}

STDMETHODIMP IAMMediaContentImpl::get_MoreInfoBannerURL(BSTR* out)
{
    return notImplemented(out);
}

STDMETHODIMP IAMMediaContentImpl::get_MoreInfoText(BSTR* out)
{
    return notImplemented(out);
}

IUnknown* IAMMediaContentImpl::interfaceFor(REFIID iid)
{
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(IAMMediaContent)))
        return static_cast<IAMMediaContent*>(this);
    return nullptr;
}
