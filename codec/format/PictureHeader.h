// What a picture's first bytes say about it: its format, by the format's
// signature, and its size in pixels, from the format's own header, without
// decoding a pixel. A decoder is handed a picture only after its size was
// seen to be sane, so that a header claiming 60000 x 60000 pixels costs
// nothing. Reads only the bytes it is given; any input is safe.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ape {

enum class PictureFormat { unknown, jpeg, png, gif, bmp, tiff };

struct PictureHeader {
    PictureFormat format = PictureFormat::unknown;
    // Pixels; both 0 when the bytes given do not reach the size or the
    // header gives none (a JPEG whose height comes after its first scan).
    std::uint32_t width = 0;
    std::uint32_t height = 0;

    static PictureHeader read(const std::uint8_t* data, std::size_t size);
};

// "JPEG", "PNG", "GIF", "BMP", "TIFF" or "unknown".
const char* pictureFormatName(PictureFormat format);

} // namespace ape
