#pragma once

#include <algorithm>
#include <cstddef>
#include <string>

// Copies `text` into a fixed-size name field of a DirectShow info record,
// cut to leave room for the NUL that always ends it.
template <std::size_t Size>
void copyToNameField(const std::wstring& text, wchar_t (&field)[Size])
{
    const std::size_t length = std::min(text.size(), Size - 1);
    std::fill(std::begin(field), std::end(field), L'\0');
    std::copy_n(text.data(), length, field);
}
