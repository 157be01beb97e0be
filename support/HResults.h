#pragma once

#include <exception>
#include <string>

#include <windows.h>

namespace oryx {

// Raises the exception that stands for a failing HRESULT: std::bad_alloc for
// E_OUTOFMEMORY, WindowsError for a Win32 code carried in an HRESULT,
// COMError for the rest. Success codes, S_FALSE among them, pass.
void checkResult(HRESULT hr, const std::string& message);
void checkResult(HRESULT hr);

// The HRESULT a COM caller receives for an exception. Never throws.
HRESULT exceptionToHResult(const std::exception& e) noexcept;

} // namespace oryx
