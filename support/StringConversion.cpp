#include "support/StringConversion.h"

#include <algorithm>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "support/Array.h"
#include "support/LossOfRange.h"
#include "support/WindowsError.h"

namespace oryx {

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

std::optional<std::wstring> decodeUtf8(const std::string& bytes)
{
    if (bytes.empty())
        return std::wstring();
    if (bytes.size() > INT_MAX)
        return std::nullopt;
    const int length = static_cast<int>(bytes.size());
    const int needed = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
    if (needed == 0)
        return std::nullopt;
    std::wstring text(static_cast<std::size_t>(needed), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), length, text.data(), needed) != needed)
        return std::nullopt;
    return text;
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
