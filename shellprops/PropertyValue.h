#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include <windows.h>

#include <propidl.h>

// One property's value as the handler keeps it, in the type the property
// system defines for its key, and the PROPVARIANT copy a caller receives.
class PropertyValue {
public:
    using Strings = std::vector<std::wstring>;

    explicit PropertyValue(std::uint32_t number) : value(number) {}       // VT_UI4
    explicit PropertyValue(std::uint64_t number) : value(number) {}       // VT_UI8
    explicit PropertyValue(std::wstring text) : value(std::move(text)) {} // VT_LPWSTR
    explicit PropertyValue(Strings texts) : value(std::move(texts)) {}    // VT_VECTOR | VT_LPWSTR, never empty

    // Fills `out`, which holds nothing, with a copy in task memory that the
    // caller frees with PropVariantClear. Raises std::bad_alloc and then
    // leaves `out` empty (VT_EMPTY).
    void copyTo(PROPVARIANT& out) const;

private:
    std::variant<std::uint32_t, std::uint64_t, std::wstring, Strings> value;
};
