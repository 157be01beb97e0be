#pragma once

// What the tests need of Wine's DirectShow that the MinGW headers leave out:
// the class ids of the Sample Grabber and the Null Renderer, and the
// __uuidof binding of IMediaEventEx that COMPtr's queries rely on.
#include <dshow.h>
#include <qedit.h>

__CRT_UUID_DECL(IMediaEventEx, 0x56a868c0, 0x0ad4, 0x11ce, 0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70)

// {C1F400A0-3F08-11D3-9F0B-006008039E37}
inline constexpr CLSID CLSID_SampleGrabberFilter = {
    0xc1f400a0, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
// {C1F400A4-3F08-11D3-9F0B-006008039E37}
inline constexpr CLSID CLSID_NullRendererFilter = {
    0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
