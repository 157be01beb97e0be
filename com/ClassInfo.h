#pragma once

#include <cstdint>

#include <windows.h>

#include "com/InternalUnknown.h"

namespace oryx {

struct FilterRegistration;
struct ShellExtensionRegistration;

// Makes a new instance with reference count 0 inside `outer` (null when not
// aggregated) and returns its non-delegating unknown; raises on failure.
using CreateFunction = InternalUnknown* (*)(IUnknown* outer);

// One record of a class table: what the class object creates and what
// registration writes. DllGetClassInfos hands tables out in exactly this
// layout (six 32-bit fields), so the field order is fixed.
struct ClassInfo {
    const CLSID* clsid;
    // Bits 0-3: server kind (0 InprocServer32, 1 InprocServer,
    // 2 InprocHandler32, 3 InprocHandler, 4 LocalServer32, 5 LocalServer).
    // The whole value names the threading model: 0x10 Apartment, 0x20 Both,
    // 0x30 Free, 0x40 Neutral, anything else none.
    std::uint32_t server_and_threading;
    const wchar_t* name;
    CreateFunction create;                            // null: not creatable
    const FilterRegistration* filterRegistration;     // null: not a media filter
    const ShellExtensionRegistration* shellExtension; // null: no shell extension
};

// Pointers are part of the layout that DllGetClassInfos publishes.
static_assert(sizeof(void*) != 4 || sizeof(ClassInfo) == 24);

} // namespace oryx
