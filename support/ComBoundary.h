#pragma once

#include <exception>

#include <windows.h>

#include "support/HResults.h"

namespace oryx {

// The one place where exceptions become HRESULTs. Every COM method and
// exported entry point validates its pointer arguments, then runs its body
// through comBoundary:
//
//     STDMETHODIMP Thing::Method(IFoo* foo)
//     {
//         if (!foo)
//             return E_POINTER;
//         return comBoundary([&] { ...; return S_OK; });
//     }
//
// The body returns the method's HRESULT; what it raises is converted by
// exceptionToHResult. The message is lost here: COM has no place for it.
template <typename Body>
HRESULT comBoundary(Body&& body) noexcept
{
    try {
        return body();
    } catch (const std::exception& e) {
        return exceptionToHResult(e);
    }
}

// The variant for the few methods that must not let even a foreign exception
// type escape (the state changes and loading a file): anything that is not a
// std::exception becomes E_FAIL.
template <typename Body>
HRESULT comBoundaryCatchAll(Body&& body) noexcept
{
    try {
        return body();
    } catch (const std::exception& e) {
        return exceptionToHResult(e);
    } catch (...) {
        return E_FAIL;
    }
}

} // namespace oryx
