#pragma once

#include <stdexcept>
#include <string>

#include "support/HRESULTHolder.h"

namespace oryx {

// A failed Win32 call. The system's text for the code is looked up only when
// what() is first asked for, because most of these exceptions are caught and
// turned into an HRESULT without anyone reading the text.
class WindowsError : public std::runtime_error, public HRESULTHolder {
public:
    // Takes the code from GetLastError(): construct right after the failure.
    explicit WindowsError(const std::string& message);
    WindowsError(DWORD code, const std::string& message);
    ~WindowsError() override;

    const char* what() const noexcept override;
    // The system's text for `code` without its line break, or
    // "Windows error 0x<code>" when there is none.
    virtual std::string systemMessage() const;
    HRESULT hresult() const override;

private:
    mutable std::string composedText;
    mutable bool composed = false;
};

} // namespace oryx
