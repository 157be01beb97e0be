#include "support/HResults.h"

#include <new>

#include "support/COMError.h"
#include "support/WindowsError.h"

namespace oryx {

void checkResult(HRESULT hr, const std::string& message)
{
    if (hr >= 0)
        return;
    if (hr == E_OUTOFMEMORY)
        throw std::bad_alloc();
    if (HRESULT_FACILITY(hr) == FACILITY_WIN32)
        throw WindowsError(static_cast<DWORD>(hr) & 0xFFFF, message);
    throw COMError(hr, message);
}

void checkResult(HRESULT hr)
{
    checkResult(hr, std::string());
}

HRESULT exceptionToHResult(const std::exception& e) noexcept
{
    if (const auto* holder = dynamic_cast<const HRESULTHolder*>(&e))
        return holder->hresult();
    if (dynamic_cast<const std::bad_alloc*>(&e))
        return E_OUTOFMEMORY;
    return E_FAIL;
}

} // namespace oryx
