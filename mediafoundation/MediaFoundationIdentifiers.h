#pragma once

#include <guiddef.h>

// The identity of the byte-stream handler: the class Media Foundation's
// source resolver creates for .ape streams and the name its class is
// registered under. The GUID is the system's own.

// {5847B50A-C1AF-4075-B2D2-D8D58B15E25D}: the byte-stream handler's class.
inline constexpr CLSID byteStreamHandlerClassId = {
    0x5847b50a, 0xc1af, 0x4075, {0xb2, 0xd2, 0xd8, 0xd5, 0x8b, 0x15, 0xe2, 0x5d}};

inline constexpr wchar_t byteStreamHandlerClassName[] = L"Monkey's Audio Byte Stream Handler (Tonbrook)";

// The MIME type a presentation of ours gives as MF_PD_MIME_TYPE, one of those
// the handler is registered under.
inline constexpr wchar_t apeMimeType[] = L"audio/x-ape";

// Presentation-descriptor attributes that MinGW's headers lack, with the
// values of Windows' own headers (mfidl.h).
namespace mfattribute {
// MF_PD_TOTAL_FILE_SIZE {6C990D34-BB8E-477A-8598-0D5D96FCD88A}, UINT64
inline constexpr GUID presentationTotalFileSize = {
    0x6c990d34, 0xbb8e, 0x477a, {0x85, 0x98, 0x0d, 0x5d, 0x96, 0xfc, 0xd8, 0x8a}};
// MF_PD_AUDIO_ENCODING_BITRATE {6C990D35-BB8E-477A-8598-0D5D96FCD88A}, UINT32
inline constexpr GUID presentationAudioEncodingBitrate = {
    0x6c990d35, 0xbb8e, 0x477a, {0x85, 0x98, 0x0d, 0x5d, 0x96, 0xfc, 0xd8, 0x8a}};
// MF_PD_MIME_TYPE {6C990D37-BB8E-477A-8598-0D5D96FCD88A}, wide string
inline constexpr GUID presentationMimeType = {
    0x6c990d37, 0xbb8e, 0x477a, {0x85, 0x98, 0x0d, 0x5d, 0x96, 0xfc, 0xd8, 0x8a}};
} // namespace mfattribute
