#pragma once

#include <string>

#include <windows.h>

#include "support/StringRef.h"

namespace oryx {

// Narrow to wide with the runtime library's current multibyte conversion; in
// the default "C" locale every byte becomes the wide character of its value.
std::wstring widen(StringRef<char> text);

// Wide to narrow in `codePage`; characters the code page lacks become its
// default character.
std::string narrow(StringRef<wchar_t> text, UINT codePage);

} // namespace oryx
