#pragma once

#include <guiddef.h>
#include <wtypes.h>

// The identity of the thumbnail handler and the platform's identifiers it
// needs, written out from Microsoft's documented values rather than taken
// from MinGW-w64's headers, which declare the imaging ones only as link-time
// symbols.

// {33E92482-654E-4FFA-B2AA-20224BF66FB2}: the thumbnail handler's class.
inline constexpr CLSID thumbnailProviderClassId = {
    0x33e92482, 0x654e, 0x4ffa, {0xb2, 0xaa, 0x20, 0x22, 0x4b, 0xf6, 0x6f, 0xb2}};

inline constexpr wchar_t thumbnailProviderClassName[] = L"Monkey's Audio Thumbnail Handler (Tonbrook)";

// The ShellEx subkey under which Explorer looks for a file type's thumbnail
// handler: IThumbnailProvider's interface identifier.
inline constexpr char thumbnailHandlerShellExKey[] = "{e357fccd-a995-4576-b01f-234630154e96}";

// {CACAF262-9370-4615-A13B-9F5539DA4C0A}: the imaging factory, in the form
// every Windows since Vista serves.
inline constexpr CLSID imagingFactoryClassId = {
    0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};

// {6FDDC324-4E03-4BFE-B185-3D77768DC90F}: 32 bits a pixel, blue, green, red,
// alpha (not premultiplied): a thumbnail DIB's layout.
inline constexpr GUID pixelFormat32bppBGRA = {
    0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x0f}};
