#include "format/Utf8.h"

#include <cstdint>

namespace ape {

namespace {

// Calls `emit` with each code point in turn; false at the first byte that
// is not part of a well-formed sequence.
template <typename Emit>
bool forEachCodePoint(std::string_view bytes, Emit emit)
{
    // The smallest code point each sequence length may encode, by its
    // continuation bytes: anything less is an overlong form.
    static constexpr std::uint32_t smallest[4] = {0, 0x80, 0x800, 0x10000};
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        std::size_t extra = 0;
        std::uint32_t cp = 0;
        if (lead < 0x80) {
            emit(lead);
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            cp = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            cp = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            cp = lead & 0x07;
        } else {
            return false;
        }
        if (i + extra >= bytes.size())
            return false;
        for (std::size_t j = 1; j <= extra; ++j) {
            const auto c = static_cast<unsigned char>(bytes[i + j]);
            if ((c & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < smallest[extra] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            return false;
        emit(cp);
        i += extra + 1;
    }
    return true;
}

} // namespace

bool isValidUtf8(std::string_view bytes)
{
    return forEachCodePoint(bytes, [](std::uint32_t) {});
}

std::optional<std::u16string> decodeUtf8(std::string_view bytes)
{
    std::u16string text;
    text.reserve(bytes.size());
    const bool valid = forEachCodePoint(bytes, [&](std::uint32_t cp) {
        if (cp < 0x10000) {
            text.push_back(char16_t(cp));
        } else {
            cp -= 0x10000;
            text.push_back(char16_t(0xD800 + (cp >> 10)));
            text.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        }
    });
    if (!valid)
        return std::nullopt;
    return text;
}

std::string utf16ToUtf8(std::string_view bytes, bool bigEndian)
{
    const auto unitAt = [&](std::size_t i) -> std::uint32_t {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (first << 8 | second) : (second << 8 | first);
    };
    const auto append = [](std::string& out, std::uint32_t cp) {
        if (cp < 0x80) {
            out.push_back(char(cp));
        } else if (cp < 0x800) {
            out.push_back(char(0xC0 | cp >> 6));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(char(0xE0 | cp >> 12));
            out.push_back(char(0x80 | (cp >> 6 & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(char(0xF0 | cp >> 18));
            out.push_back(char(0x80 | (cp >> 12 & 0x3F)));
            out.push_back(char(0x80 | (cp >> 6 & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        }
    };
    constexpr std::uint32_t replacement = 0xFFFD;
    std::string text;
    text.reserve(bytes.size() / 2 * 3);
    const std::size_t units = bytes.size() / 2;
    for (std::size_t u = 0; u < units; ++u) {
        const std::uint32_t unit = unitAt(2 * u);
        if (unit >= 0xD800 && unit <= 0xDBFF && u + 1 < units) {
            const std::uint32_t low = unitAt(2 * (u + 1));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                append(text, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++u;
                continue;
            }
        }
        append(text, unit >= 0xD800 && unit <= 0xDFFF ? replacement : unit);
    }
    return text;
}

} // namespace ape
