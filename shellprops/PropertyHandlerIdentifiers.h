#pragma once

#include <guiddef.h>

// The identity of the property handler: the class Windows creates for .ape
// files and the name its class is registered under. The GUID is the
// system's own.

// {8643C350-F7A8-4FEF-9DE7-A97DD3FBBF71}: the property handler's class.
inline constexpr CLSID propertyHandlerClassId = {
    0x8643c350, 0xf7a8, 0x4fef, {0x9d, 0xe7, 0xa9, 0x7d, 0xd3, 0xfb, 0xbf, 0x71}};

inline constexpr wchar_t propertyHandlerClassName[] = L"Monkey's Audio Property Handler (Tonbrook)";
