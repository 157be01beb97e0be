#pragma once

#include <windows.h>

// Where the dual control interfaces (IAMMediaContent, IAMExtendedSeeking)
// find their type information for IDispatch: the platform's DirectShow
// control type library, registered, or else found as a file by the system's
// search for type libraries.
namespace controltypes {

inline constexpr wchar_t libraryFile[] = L"control.tlb";
// {56A868B0-0AD4-11CE-B03A-0020AF0BA770}. Wine registers this id only at 1.0,
// for quartz.dll's own library, which lacks the control interfaces; a request
// for 0.1 passes it by and reaches the file.
inline constexpr GUID libraryId = {0x56a868b0, 0x0ad4, 0x11ce, {0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
inline constexpr WORD libraryMajor = 0;
inline constexpr WORD libraryMinor = 1;

} // namespace controltypes
