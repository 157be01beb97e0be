#include "support/StringConversion.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "support/Array.h"
#include "support/LossOfRange.h"
#include "support/WindowsError.h"

namespace oryx {

namespace {

} // namespace

std::wstring widen(StringRef<char> text)
{
    // mbstowcs takes no length: it needs a copy that ends in a NUL.
    const std::string source = text.str();
    const std::size_t needed = std::mbstowcs(nullptr, source.c_str(), 0);
    if (needed == static_cast<std::size_t>(-1))
        throw std::runtime_error("Can't convert char -> wchar_t string");
    Array<wchar_t, std::allocator<wchar_t>> buffer(rangeChecked<std::int32_t>(needed + 1));
    std::mbstowcs(buffer.data, source.c_str(), needed + 1);
    return std::wstring(buffer.data, needed);
}

std::string narrow(StringRef<wchar_t> text, UINT codePage)
{
    if (!text.text)
        return std::string();
    const int length = text.length < 0 ? rangeChecked<int>(std::wcslen(text.text)) : text.length;
    if (length == 0)
        return std::string();
    const int size = WideCharToMultiByte(codePage, 0, text.text, length, nullptr, 0, nullptr, nullptr);
    if (size == 0)
        throw WindowsError("Can't retrieve required buffer size for wchar_t -> char conversion");
    Array<char, std::allocator<char>> buffer(size);
    const int written = WideCharToMultiByte(codePage, 0, text.text, length, buffer.data, size, nullptr, nullptr);
    if (written == 0)
        throw WindowsError("Can't convert wchar_t -> char string");
    return std::string(buffer.data, written);
}

} // namespace oryx
