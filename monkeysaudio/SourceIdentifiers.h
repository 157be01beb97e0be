#pragma once

#include <guiddef.h>

// The identity of the source filter: what it reports about itself and what
// the module registers for it. The GUIDs are the system's own.

// {6E2B9F14-8C3D-4A57-9D21-5F0A7C3E1B92}: the source filter's class.
inline constexpr CLSID sourceClassId = {0x6e2b9f14, 0x8c3d, 0x4a57, {0x9d, 0x21, 0x5f, 0x0a, 0x7c, 0x3e, 0x1b, 0x92}};

// {A4D1C730-5E92-4B6F-8E13-2C7B9F04D5A8}: the subtype of an .ape byte stream,
// as GetCurFile reports it and as the extension key announces it.
inline constexpr GUID apeStreamSubtype = {0xa4d1c730, 0x5e92, 0x4b6f, {0x8e, 0x13, 0x2c, 0x7b, 0x9f, 0x04, 0xd5, 0xa8}};

// {C81F4D26-7A3B-4E95-B2D0-6E4A1C97F3B5}: the property page the source offers.
inline constexpr CLSID sourcePropertyPage = {
    0xc81f4d26, 0x7a3b, 0x4e95, {0xb2, 0xd0, 0x6e, 0x4a, 0x1c, 0x97, 0xf3, 0xb5}};

// {3F8E6A52-B1C4-4D09-A7E6-9C2D5B180F4E}: names the media player's values for
// .ape; it identifies nothing else and only has to be unique.
inline constexpr GUID playerExtensionValueName = {
    0x3f8e6a52, 0xb1c4, 0x4d09, {0xa7, 0xe6, 0x9c, 0x2d, 0x5b, 0x18, 0x0f, 0x4e}};

// The filter's name in a graph, and the name its class is registered under.
inline constexpr wchar_t sourceFilterName[] = L"Monkey's Audio Demultiplexer (Tonbrook)";
inline constexpr wchar_t sourceClassName[] = L"Monkey's Audio File Source (Tonbrook)";
