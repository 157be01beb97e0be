#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "support/LossOfRange.h"

namespace oryx {

// A character range handed to the string conversions: a pointer and a
// length, where length -1 means "up to the terminating NUL" and a null
// pointer is the empty string. Wide strings with an embedded NUL are taken
// as NUL-terminated, so every conversion ends at the first NUL.
template <typename Ch>
struct StringRef {
    StringRef(const Ch* text) : text(text), length(-1) {}
    StringRef(const std::basic_string<Ch>& text) : text(text.data()), length(lengthOf(text)) {}

    // The characters up to the first NUL or the end of the range.
    std::basic_string<Ch> str() const
    {
        if (!text)
            return std::basic_string<Ch>();
        if (length < 0)
            return std::basic_string<Ch>(text);
        return std::basic_string<Ch>(text, std::find(text, text + length, Ch()));
    }

    const Ch* text;
    std::int32_t length;

private:
    static std::int32_t lengthOf(const std::basic_string<Ch>& text)
    {
        if constexpr (sizeof(Ch) > 1) {
            if (text.find(Ch()) != std::basic_string<Ch>::npos)
                return -1;
        }
        // A length of 2 GiB or more exists only in the x64 module.
        return rangeChecked<std::int32_t>(text.size());
    }
};

} // namespace oryx
