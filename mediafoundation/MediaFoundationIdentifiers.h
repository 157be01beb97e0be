#pragma once

#include <guiddef.h>

// The identity of the byte-stream handler: the class Media Foundation's
// source resolver creates for .ape streams and the name its class is
// registered under. The GUID is the system's own.

// {5847B50A-C1AF-4075-B2D2-D8D58B15E25D}: the byte-stream handler's class.
inline constexpr CLSID byteStreamHandlerClassId = {
    0x5847b50a, 0xc1af, 0x4075, {0xb2, 0xd2, 0xd8, 0xd5, 0x8b, 0x15, 0xe2, 0x5d}};

inline constexpr wchar_t byteStreamHandlerClassName[] = L"Monkey's Audio Byte Stream Handler (Tonbrook)";
