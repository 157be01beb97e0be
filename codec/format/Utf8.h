// UTF-8, the text encoding of APE tag items, checked and turned into UTF-16.
// Well-formed means what the Windows converters accept with
// MB_ERR_INVALID_CHARS: no overlong forms, no encoded surrogates, nothing past
// U+10FFFF, no stray or missing continuation bytes. NUL bytes are text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ape {

bool isValidUtf8(std::string_view bytes);

// Nothing when `bytes` is not well-formed UTF-8; characters past U+FFFF
// become surrogate pairs.
std::optional<std::u16string> decodeUtf8(std::string_view bytes);

// UTF-16 text given as bytes in either byte order, as UTF-8; an odd last
// byte is dropped and an unpaired surrogate becomes U+FFFD, so the result is
// always well-formed.
std::string utf16ToUtf8(std::string_view bytes, bool bigEndian);

} // namespace ape
