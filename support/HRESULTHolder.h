#pragma once

#include <cstdint>

#include <windows.h>

namespace oryx {

// Mix-in for exceptions that stand for an HRESULT. `code` is whatever the
// concrete class keeps (a Win32 error code or an HRESULT); hresult() is what
// a COM caller receives.
class HRESULTHolder {
public:
    explicit HRESULTHolder(std::uint32_t code) : code(code) {}
    virtual HRESULT hresult() const = 0;

    std::uint32_t code;

protected:
    ~HRESULTHolder() = default;
    HRESULTHolder(const HRESULTHolder&) = default;
    HRESULTHolder& operator=(const HRESULTHolder&) = default;
};

} // namespace oryx
