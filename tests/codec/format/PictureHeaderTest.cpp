// Each format's header read for its size, built here byte by byte after the
// formats' own layouts; and what is not a picture, or stops short of its
// size, gives none.
#include "format/PictureHeader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

ape::PictureHeader read(const Bytes& bytes)
{
    return ape::PictureHeader::read(bytes.data(), bytes.size());
}

void expectPicture(const Bytes& bytes, ape::PictureFormat format, std::uint32_t width, std::uint32_t height,
                   const char* what)
{
    const ape::PictureHeader header = read(bytes);
    EXPECT_EQ(header.format, format) << what;
    EXPECT_EQ(header.width, width) << what;
    EXPECT_EQ(header.height, height) << what;
}

TEST(PictureHeader, EveryFormatGivesItsSizeFromItsOwnHeader)
{
    // JPEG: APP0 (16 bytes of length), a DQT-like segment, then SOF2 (progressive).
    Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10};
    jpeg.resize(jpeg.size() + 14, 0);
    jpeg.insert(jpeg.end(), {0xFF, 0xDB, 0x00, 0x04, 0x00, 0x00});
    jpeg.insert(jpeg.end(), {0xFF, 0xFF, 0xC2, 0x00, 0x11, 0x08, 0x01, 0x86, 0x02, 0x58, 0x03});
    jpeg.resize(jpeg.size() + 9, 0);
    expectPicture(jpeg, ape::PictureFormat::jpeg, 600, 390, "JPEG");
    // The Huffman tables' marker shares the frame markers' range.
    Bytes huffmanFirst = {0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x07, 0x00, 0x00, 0x10, 0x00, 0x20};
    huffmanFirst.insert(huffmanFirst.end(), {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x20, 0x00, 0x40});
    expectPicture(huffmanFirst, ape::PictureFormat::jpeg, 64, 32, "JPEG after its Huffman tables");
    Bytes scanFirst = {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x20, 0x00, 0x40};
    expectPicture(scanFirst, ape::PictureFormat::jpeg, 0, 0, "JPEG whose scan comes before any frame header");

    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0,    13,
                 'I',  'H', 'D', 'R', 0,    0,    0x01, 0xF4, 0, 0, 0x01, 0x86};
    expectPicture(png, ape::PictureFormat::png, 500, 390, "PNG");
    expectPicture({png.begin(), png.end() - 1}, ape::PictureFormat::png, 0, 0, "PNG cut inside IHDR");

    expectPicture({'G', 'I', 'F', '8', '9', 'a', 0x2C, 0x01, 0xC8, 0x00}, ape::PictureFormat::gif, 300, 200, "GIF");

    Bytes bmp(26, 0);
    bmp[0] = 'B', bmp[1] = 'M', bmp[14] = 40;
    bmp[18] = 0x80, bmp[19] = 0x02;                           // 640
    bmp[22] = 0x20, bmp[23] = 0xFE, bmp[24] = bmp[25] = 0xFF; // -480: rows top-down
    expectPicture(bmp, ape::PictureFormat::bmp, 640, 480, "BMP, top-down");

    // Big-endian TIFF: directory at 8 with two entries, a SHORT width and a LONG height.
    Bytes tiff = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 2};
    tiff.insert(tiff.end(), {0x01, 0x00, 0, 3, 0, 0, 0, 1, 0x03, 0x20, 0, 0});
    tiff.insert(tiff.end(), {0x01, 0x01, 0, 4, 0, 0, 0, 1, 0, 0, 0x02, 0x58});
    expectPicture(tiff, ape::PictureFormat::tiff, 800, 600, "TIFF");
    expectPicture({'I', 'I', '*', 0}, ape::PictureFormat::tiff, 0, 0, "TIFF without its directory's offset");

    expectPicture({'R', 'I', 'F', 'F', 0, 0, 0, 0}, ape::PictureFormat::unknown, 0, 0, "not a format known here");
    expectPicture({}, ape::PictureFormat::unknown, 0, 0, "nothing");
}

} // namespace
