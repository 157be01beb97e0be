#pragma once

#include <string>

#include <dshow.h>
#include <qnetwork.h>

#include "filter/IDispatchImpl.h"

// IAMMediaContent for a source that can describe what it plays: the seven
// texts a player shows come from the source, the six other properties are
// not implemented, and IDispatch is served from the platform's DirectShow
// control type library ("control.tlb").
//
// A subclass supplies the seven text suppliers, which may raise (the getter
// then returns the error's HRESULT and stores no text), and QueryInterface,
// AddRef and Release (usually via DelegatingUnknown). It chains interfaceFor
// to this one, which answers IID_IAMMediaContent and IID_IUnknown but not
// IID_IDispatch: the object's IDispatch is left to whoever owns its identity.
// The suppliers are called on the caller's thread without any lock of this
// mix-in; a source that reads shared state takes its own.
class IAMMediaContentImpl : public IDispatchImpl<IAMMediaContent> {
public:
    IAMMediaContentImpl();

    STDMETHOD(get_AuthorName)(BSTR* out) override;
    STDMETHOD(get_Title)(BSTR* out) override;
    STDMETHOD(get_Rating)(BSTR* out) override;
    STDMETHOD(get_Description)(BSTR* out) override;
    STDMETHOD(get_Copyright)(BSTR* out) override;
    STDMETHOD(get_BaseURL)(BSTR* out) override;
    STDMETHOD(get_LogoURL)(BSTR* out) override;
    STDMETHOD(get_LogoIconURL)(BSTR* out) override;
    STDMETHOD(get_WatermarkURL)(BSTR* out) override;
    STDMETHOD(get_MoreInfoURL)(BSTR* out) override;
    STDMETHOD(get_MoreInfoBannerImage)(BSTR* out) override;
    STDMETHOD(get_MoreInfoBannerURL)(BSTR* out) override;
    STDMETHOD(get_MoreInfoText)(BSTR* out) override;

    // The texts, each up to its first NUL; an empty text is a valid answer.
    virtual std::wstring authorName() = 0;
    virtual std::wstring title() = 0;
    virtual std::wstring rating() = 0;
    virtual std::wstring description() = 0;
    virtual std::wstring copyright() = 0;
    virtual std::wstring baseUrl() = 0;
    virtual std::wstring logoUrl() = 0;

    virtual IUnknown* interfaceFor(REFIID iid);

protected:
    ~IAMMediaContentImpl() = default;

private:
    HRESULT supplied(BSTR* out, std::wstring (IAMMediaContentImpl::*supplier)());
};
