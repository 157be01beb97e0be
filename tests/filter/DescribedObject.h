#pragma once

// A COM object made of the description and marker mix-ins the way the source
// filter joins them, with fixed texts and markers chosen to show each rule of
// the getters.
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

#include "com/DelegatingUnknown.h"
#include "com/IUnknownImpl.h"
#include "filter/IAMExtendedSeekingImpl.h"
#include "filter/IAMMediaContentImpl.h"
#include "filter/ISpecifyPropertyPagesImpl.h"
#include "support/COMError.h"

namespace filtertest {

// Tag text arrives as UTF-8; the wide text the getters copy is decoded from it.
inline std::wstring fromUtf8(const std::string& text)
{
    std::wstring wide(text.size(), L'\0');
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                           static_cast<int>(wide.size()));
    wide.resize(static_cast<std::size_t>(length));
    return wide;
}

class DescribedObject : public oryx::IUnknownImpl,
                        public oryx::DelegatingUnknown<DescribedObject, oryx::ISpecifyPropertyPagesImpl>,
                        public oryx::DelegatingUnknown<DescribedObject, IAMMediaContentImpl>,
                        public oryx::DelegatingUnknown<DescribedObject, IAMExtendedSeekingImpl> {
public:
    std::vector<Marker> markers = {{0.0, L"01. Intro"}, {93.5, L"02. B\u00e9b\u00e9 - Guest"}, {200.25, L"03. End"}};
    long current = 2;
    // The marker suppliers raise this (S_OK: they answer).
    HRESULT markerFailure = S_OK;

    std::vector<CLSID> pages;
    // pageClsid raises for this index.
    std::uint32_t refusedPage = UINT32_MAX;

    DescribedObject() : IUnknownImpl(nullptr) {}

    IUnknown* interfaceFor(REFIID iid) override
    {
        if (IUnknown* found = ISpecifyPropertyPagesImpl::interfaceFor(iid))
            return found;
        if (IUnknown* found = IAMMediaContentImpl::interfaceFor(iid))
            return found;
        return IAMExtendedSeekingImpl::interfaceFor(iid);
    }

    long markerCount() override
    {
        failIfAsked();
        return static_cast<long>(markers.size());
    }
    std::optional<Marker> marker(long number) override
    {
        failIfAsked();
        if (number < 1 || number > static_cast<long>(markers.size()))
            return std::nullopt;
        return markers[static_cast<std::size_t>(number - 1)];
    }
    long currentMarker() override
    {
        failIfAsked();
        return current;
    }
    void failIfAsked()
    {
        if (markerFailure != S_OK)
            throw oryx::COMError(markerFailure, "Can't read the markers");
    }

    // "Dvořák" in UTF-8.
    std::wstring authorName() override { return fromUtf8("Dvo\xC5\x99\xC3\xA1k"); }
    std::wstring title() override { return std::wstring(L"Title\0hidden", 12); }
    std::wstring rating() override { return L""; }
    std::wstring description() override { throw oryx::COMError(E_ACCESSDENIED, "Can't read the tag"); }
    std::wstring copyright() override { throw std::bad_alloc(); }
    std::wstring baseUrl() override { return L"http://example.org/"; }
    std::wstring logoUrl() override { return L"logo.png"; }

    std::uint32_t pageCount() override { return static_cast<std::uint32_t>(pages.size()); }
    const CLSID& pageClsid(std::uint32_t index) override
    {
        if (index == refusedPage)
            throw oryx::COMError(E_UNEXPECTED, "Can't name the page");
        return pages.at(index);
    }
};

} // namespace filtertest
