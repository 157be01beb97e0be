#pragma once

#include <cstdint>
#include <vector>

#include <windows.h>

#include <thumbcache.h>

// A picture's bytes (JPEG, PNG, GIF, BMP, TIFF: whatever the system's
// imaging component decodes) drawn as a thumbnail: a 32-bit top-down DIB
// that fits `cx` x `cx` with the picture's aspect kept, never larger than
// the picture itself, each side at least one pixel, shrunk by AreaScaler.
// WTSAT_RGB when every
// pixel is opaque, WTSAT_ARGB (straight alpha) otherwise.
//
// A picture is refused by the size its header claims before a pixel is
// decoded, and again by the size the decoder reports: above sideLimit on
// either side or pixelLimit in all, WINCODEC_ERR_IMAGESIZEOUTOFRANGE. Bytes
// of no known picture format are WINCODEC_ERR_UNKNOWNIMAGEFORMAT; a
// decoder's failure raises its own HRESULT (COMError).
class PictureThumbnail {
public:
    PictureThumbnail(const std::vector<std::uint8_t>& picture, UINT cx);
    PictureThumbnail(const PictureThumbnail&) = delete;
    PictureThumbnail& operator=(const PictureThumbnail&) = delete;
    ~PictureThumbnail();

    // Hands the bitmap to the caller, who deletes it with DeleteObject.
    HBITMAP release();
    WTS_ALPHATYPE alphaType() const { return alpha; }

    static constexpr std::uint32_t sideLimit = 16384;
    static constexpr std::uint64_t pixelLimit = 25'000'000;

private:
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
};
