#pragma once

#include <string>

#include <windows.h>

#include <oleauto.h>

// A text handed to an automation caller, who frees it: up to its first NUL,
// and a string of its own even when empty, since callers read the result
// without testing it for null. Raises std::bad_alloc.
BSTR newBasicString(const std::wstring& text);
