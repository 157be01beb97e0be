#pragma once

#include <windows.h>

namespace oryx {

// Whether a REFIID or REFCLSID argument is a null pointer. C callers pass
// these as plain pointers and may pass null; the reference type lets the
// compiler assume otherwise, so the address is hidden from the optimiser
// before it is tested.
inline bool isNullReference(const GUID& guid) noexcept
{
    const GUID* address = &guid;
    asm("" : "+r"(address));
    return address == nullptr;
}

} // namespace oryx
