#include "filter/BasicString.h"

#include <new>

#include "support/LossOfRange.h"

BSTR newBasicString(const std::wstring& text)
{
    const std::wstring::size_type end = text.find(L'\0');
    const std::wstring::size_type length = end == std::wstring::npos ? text.size() : end;
    const BSTR copy = SysAllocStringLen(text.data(), oryx::rangeChecked<UINT>(length));
    if (!copy)
        throw std::bad_alloc();
    return copy;
}
