#pragma once

#include <optional>
#include <string>

#include <windows.h>

#include "support/StringRef.h"

namespace oryx {

// Narrow to wide with the runtime library's current multibyte conversion; in
// the default "C" locale every byte becomes the wide character of its value.
std::wstring widen(StringRef<char> text);

// UTF-8 to wide; nothing when `bytes` is not well-formed UTF-8 (overlong
// forms, encoded surrogates and stray continuation bytes included), so the
// caller can choose its own reading of such bytes.
std::optional<std::wstring> decodeUtf8(const std::string& bytes);

// Wide to narrow in `codePage`; characters the code page lacks become its
// default character.
std::string narrow(StringRef<wchar_t> text, UINT codePage);

} // namespace oryx
