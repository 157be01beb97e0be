#include "filter/IAMMediaContentImpl.h"

#include <new>

#include "support/ComBoundary.h"
#include "support/LossOfRange.h"

namespace {

// The control interfaces' type library: registered with the platform, or
// else found as a file by the system's search for type libraries.
const wchar_t controlTypeLibraryFile[] = L"control.tlb";
// {56A868B0-0AD4-11CE-B03A-0020AF0BA770}. Wine registers this id only at 1.0,
// for quartz.dll's own library, which lacks IAMMediaContent; a request for
// 0.1 passes it by and reaches the file.
constexpr GUID quartzTypeLibrary = {0x56a868b0, 0x0ad4, 0x11ce, {0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
constexpr WORD controlTypeLibraryMajor = 0;
constexpr WORD controlTypeLibraryMinor = 1;

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
    : IDispatchImpl(controlTypeLibraryFile, &quartzTypeLibrary, controlTypeLibraryMajor, controlTypeLibraryMinor,
                    &__uuidof(IAMMediaContent))
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
        const std::wstring text = (this->*supplier)();
        const std::wstring::size_type end = text.find(L'\0');
        const std::wstring::size_type length = end == std::wstring::npos ? text.size() : end;
        // Even an empty text gets a string of its own: callers read the
        // result without testing it for null.
        const BSTR copy = SysAllocStringLen(text.data(), oryx::rangeChecked<UINT>(length));
        if (!copy)
            throw std::bad_alloc();
        *out = copy;
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
