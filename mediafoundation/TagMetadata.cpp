#include "mediafoundation/TagMetadata.h"

#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

#include <mferror.h>

#include "shellprops/PropertyHandlerIdentifiers.h"
#include "support/ComBoundary.h"

namespace {

struct Name {
    const wchar_t* name;
    const PROPERTYKEY* key;
};
constexpr Name names[] = {
    {L"Title", &propertykey::title},
    {L"Author", &propertykey::artist},
    {L"WM/AlbumTitle", &propertykey::albumTitle},
    {L"WM/AlbumArtist", &propertykey::albumArtist},
    {L"WM/Genre", &propertykey::genre},
    {L"WM/Year", &propertykey::year},
    {L"WM/TrackNumber", &propertykey::trackNumber},
    {L"Description", &propertykey::comment},
    {L"Copyright", &propertykey::copyright},
};

// A copy of `text` in task memory; raises std::bad_alloc.
LPWSTR taskCopy(PCWSTR text)
{
    const std::size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!copy)
        throw std::bad_alloc();
    std::memcpy(copy, text, bytes);
    return copy;
}

// A VT_VECTOR | VT_LPWSTR copy of `texts` in task memory, which `out`
// (empty) receives; raises std::bad_alloc, leaving `out` empty.
void setTexts(PROPVARIANT& out, const std::vector<PCWSTR>& texts)
{
    const ULONG count = static_cast<ULONG>(texts.size());
    auto* elements = static_cast<LPWSTR*>(CoTaskMemAlloc(sizeof(LPWSTR) * (count ? count : 1)));
    if (!elements)
        throw std::bad_alloc();
    out.vt = VT_VECTOR | VT_LPWSTR;
    out.calpwstr.cElems = 0;
    out.calpwstr.pElems = elements;
    try {
        for (PCWSTR text : texts) {
            elements[out.calpwstr.cElems] = taskCopy(text);
            ++out.calpwstr.cElems;
        }
    } catch (...) {
        PropVariantClear(&out);
        throw;
    }
}

const Name* find(LPCWSTR name)
{
    for (const Name& known : names) {
        if (std::wcscmp(known.name, name) == 0)
            return &known;
    }
    return nullptr;
}

// Raises std::bad_alloc when task memory runs out.
void setText(PROPVARIANT& out, const std::wstring& text)
{
    out.pwszVal = taskCopy(text.c_str());
    out.vt = VT_LPWSTR;
}

// The value under `name`, as GetProperty gives it; VT_EMPTY when the file
// has none.
void valueOf(IPropertyStore& properties, const Name& name, PROPVARIANT& out)
{
    PROPVARIANT held;
    PropVariantInit(&held);
    oryx::checkResult(properties.GetValue(*name.key, &held));
    try {
        if (held.vt == (VT_VECTOR | VT_LPWSTR)) {
            std::wstring joined;
            for (ULONG i = 0; i < held.calpwstr.cElems; ++i)
                joined.append(i ? L"; " : L"").append(held.calpwstr.pElems[i]);
            setText(out, joined);
        } else if (held.vt == VT_UI4 && name.key == &propertykey::year) {
            // A year is text among Windows Media's attributes.
            setText(out, std::to_wstring(held.ulVal));
        } else {
            oryx::checkResult(PropVariantCopy(&out, &held));
        }
    } catch (...) {
        PropVariantClear(&held);
        throw;
    }
    PropVariantClear(&held);
}

} // namespace

TagMetadata::TagMetadata(IPropertyStore& properties) : IUnknownImpl(nullptr), properties(&properties)
{
}

IUnknown* TagMetadata::interfaceFor(REFIID iid)
{
    if (IUnknown* found = oryx::lookUpInterface<IMFMetadata>(this, iid))
        return found;
    return IUnknownImpl::interfaceFor(iid);
}

STDMETHODIMP TagMetadata::SetLanguage(LPCWSTR language)
{
    if (!language)
        return E_POINTER;
    return language[0] == L'\0' ? S_OK : MF_E_INVALIDREQUEST;
}

STDMETHODIMP TagMetadata::GetLanguage(LPWSTR* language)
{
    if (!language)
        return E_POINTER;
    return oryx::comBoundary([&] {
        *language = taskCopy(L"");
        return S_OK;
    });
}

STDMETHODIMP TagMetadata::GetAllLanguages(PROPVARIANT* languages)
{
    if (!languages)
        return E_POINTER;
    PropVariantInit(languages);
    return oryx::comBoundary([&] {
        setTexts(*languages, {L""});
        return S_OK;
    });
}

STDMETHODIMP TagMetadata::SetProperty(LPCWSTR name, const PROPVARIANT* value)
{
    if (!name || !value)
        return E_POINTER;
    return STG_E_ACCESSDENIED;
}

STDMETHODIMP TagMetadata::GetProperty(LPCWSTR name, PROPVARIANT* value)
{
    if (!name || !value)
        return E_POINTER;
    PropVariantInit(value);
    return oryx::comBoundary([&] {
        const Name* known = find(name);
        if (!known)
            return MF_E_PROPERTY_NOT_FOUND;
        valueOf(*properties, *known, *value);
        return value->vt == VT_EMPTY ? MF_E_PROPERTY_NOT_FOUND : S_OK;
    });
}

STDMETHODIMP TagMetadata::DeleteProperty(LPCWSTR name)
{
    if (!name)
        return E_POINTER;
    return STG_E_ACCESSDENIED;
}

STDMETHODIMP TagMetadata::GetAllPropertyNames(PROPVARIANT* namesOut)
{
    if (!namesOut)
        return E_POINTER;
    PropVariantInit(namesOut);
    return oryx::comBoundary([&] {
        std::vector<PCWSTR> present;
        for (const Name& name : names) {
            PROPVARIANT value;
            PropVariantInit(&value);
            oryx::checkResult(properties->GetValue(*name.key, &value));
            if (value.vt != VT_EMPTY)
                present.push_back(name.name);
            PropVariantClear(&value);
        }
        setTexts(*namesOut, present);
        return S_OK;
    });
}
