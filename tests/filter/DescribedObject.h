#pragma once

// A COM object made of the two description mix-ins the way the source filter
// joins them, with fixed texts chosen to show each rule of the getters.
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include <windows.h>

#include "com/DelegatingUnknown.h"
#include "com/IUnknownImpl.h"
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
                        public oryx::DelegatingUnknown<DescribedObject, IAMMediaContentImpl> {
public:
    std::vector<CLSID> pages;
    // pageClsid raises for this index.
    std::uint32_t refusedPage = UINT32_MAX;

    DescribedObject() : IUnknownImpl(nullptr) {}

    IUnknown* interfaceFor(REFIID iid) override
    {
        if (IUnknown* found = ISpecifyPropertyPagesImpl::interfaceFor(iid))
            return found;
        return IAMMediaContentImpl::interfaceFor(iid);
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
