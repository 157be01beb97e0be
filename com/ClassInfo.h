#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

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
// layout, so the field order is fixed: six fields of pointer width (32 bits
// in the 32-bit module; in the x64 module the 32-bit field is padded to 64
// bits, as the compiler lays it out naturally).
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

// Pointers are part of the layout that DllGetClassInfos publishes: a tool
// reading the table finds field n at n pointer widths, in either width.
static_assert(std::is_standard_layout_v<ClassInfo>);
static_assert(offsetof(ClassInfo, clsid) == 0 * sizeof(void*));
static_assert(offsetof(ClassInfo, server_and_threading) == 1 * sizeof(void*));
static_assert(offsetof(ClassInfo, name) == 2 * sizeof(void*));
static_assert(offsetof(ClassInfo, create) == 3 * sizeof(void*));
static_assert(offsetof(ClassInfo, filterRegistration) == 4 * sizeof(void*));
static_assert(offsetof(ClassInfo, shellExtension) == 5 * sizeof(void*));
static_assert(sizeof(ClassInfo) == 6 * sizeof(void*));

} // namespace oryx
