#pragma once

#include <guiddef.h>
#include <wtypes.h>

// The identity of the property handler: the class Windows creates for .ape
// files and the name its class is registered under. The GUID is the
// system's own.

// {8643C350-F7A8-4FEF-9DE7-A97DD3FBBF71}: the property handler's class.
inline constexpr CLSID propertyHandlerClassId = {
    0x8643c350, 0xf7a8, 0x4fef, {0x9d, 0xe7, 0xa9, 0x7d, 0xd3, 0xfb, 0xbf, 0x71}};

inline constexpr wchar_t propertyHandlerClassName[] = L"Monkey's Audio Property Handler (Tonbrook)";

// The keys the handler stores its values under, as the property system
// documents them (format identifier and property id of each System.* name).
// Defined here rather than taken from MinGW-w64's propkey.h, whose audio
// keys carry a wrong format identifier ({64440490-4C8B-11D1-8B80-...}):
// values stored under those are invisible to Explorer.
namespace propertykey {

// {64440490-4C8B-11D1-8B70-080036B11A03}: System.Media.Duration and System.Audio.*.
inline constexpr GUID audioFormatId = {0x64440490, 0x4c8b, 0x11d1, {0x8b, 0x70, 0x08, 0x00, 0x36, 0xb1, 0x1a, 0x03}};
// {56A3372E-CE9C-11D2-9F0E-006097C686F6}: System.Music.* and System.Media.Year.
inline constexpr GUID musicFormatId = {0x56a3372e, 0xce9c, 0x11d2, {0x9f, 0x0e, 0x00, 0x60, 0x97, 0xc6, 0x86, 0xf6}};
// {F29F85E0-4FF9-1068-AB91-08002B27B3D9}: the summary information set (System.Title, System.Comment).
inline constexpr GUID summaryFormatId = {0xf29f85e0, 0x4ff9, 0x1068, {0xab, 0x91, 0x08, 0x00, 0x2b, 0x27, 0xb3, 0xd9}};
// {64440492-4C8B-11D1-8B70-080036B11A03}: System.Copyright.
inline constexpr GUID mediaFormatId = {0x64440492, 0x4c8b, 0x11d1, {0x8b, 0x70, 0x08, 0x00, 0x36, 0xb1, 0x1a, 0x03}};

inline constexpr PROPERTYKEY duration = {audioFormatId, 3};        // System.Media.Duration, VT_UI8 (100 ns)
inline constexpr PROPERTYKEY audioFormat = {audioFormatId, 2};     // System.Audio.Format, VT_LPWSTR
inline constexpr PROPERTYKEY encodingBitrate = {audioFormatId, 4}; // System.Audio.EncodingBitrate, VT_UI4
inline constexpr PROPERTYKEY sampleRate = {audioFormatId, 5};      // System.Audio.SampleRate, VT_UI4
inline constexpr PROPERTYKEY sampleSize = {audioFormatId, 6};      // System.Audio.SampleSize, VT_UI4 (bits)
inline constexpr PROPERTYKEY channelCount = {audioFormatId, 7};    // System.Audio.ChannelCount, VT_UI4
inline constexpr PROPERTYKEY title = {summaryFormatId, 2};         // System.Title, VT_LPWSTR
inline constexpr PROPERTYKEY comment = {summaryFormatId, 6};       // System.Comment, VT_LPWSTR
inline constexpr PROPERTYKEY artist = {musicFormatId, 2};          // System.Music.Artist, VT_VECTOR | VT_LPWSTR
inline constexpr PROPERTYKEY albumTitle = {musicFormatId, 4};      // System.Music.AlbumTitle, VT_LPWSTR
inline constexpr PROPERTYKEY year = {musicFormatId, 5};            // System.Media.Year, VT_UI4
inline constexpr PROPERTYKEY trackNumber = {musicFormatId, 7};     // System.Music.TrackNumber, VT_UI4
inline constexpr PROPERTYKEY genre = {musicFormatId, 11};          // System.Music.Genre, VT_VECTOR | VT_LPWSTR
inline constexpr PROPERTYKEY albumArtist = {musicFormatId, 13};    // System.Music.AlbumArtist, VT_LPWSTR
inline constexpr PROPERTYKEY copyright = {mediaFormatId, 11};      // System.Copyright, VT_LPWSTR

} // namespace propertykey
