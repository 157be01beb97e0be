#include "format/PictureHeader.h"

#include "format/ByteOrder.h"

#include <cstring>

namespace ape {
namespace {

std::uint16_t readBe16(const std::uint8_t* p)
{
    return std::uint16_t((p[0] << 8) | p[1]);
}

std::uint32_t readBe32(const std::uint8_t* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

bool startsWith(const std::uint8_t* data, std::size_t size, const char* signature, std::size_t length)
{
    return size >= length && std::memcmp(data, signature, length) == 0;
}

// JPEG markers (the byte after 0xFF).
constexpr std::uint8_t startOfImage = 0xD8;
constexpr std::uint8_t endOfImage = 0xD9;
constexpr std::uint8_t startOfScan = 0xDA;
constexpr std::uint8_t temporary = 0x01; // TEM: no length follows
constexpr std::uint8_t firstRestart = 0xD0, lastRestart = 0xD7;
// Start-of-frame markers C0 to CF carry the frame's size, except these,
// which share the range: Huffman tables, arithmetic-coding extension and
// conditioning.
constexpr std::uint8_t huffmanTables = 0xC4, extension = 0xC8, arithmeticConditioning = 0xCC;

// The frame header's size: precision (1 byte), height, width (2 each, big
// endian) after the segment's length. Segments are walked by their lengths
// up to the first scan.
void readJpeg(const std::uint8_t* data, std::size_t size, PictureHeader& header)
{
    std::size_t at = 2;
    while (at + 1 < size) {
        if (data[at] != 0xFF)
            return;
        const std::uint8_t marker = data[at + 1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        at += 2;
        if (marker == startOfImage || marker == temporary || (marker >= firstRestart && marker <= lastRestart))
            continue;
        if (marker == endOfImage || marker == startOfScan || at + 2 > size)
            return;
        const std::size_t length = readBe16(data + at);
        if (length < 2)
            return;
        if (marker >= 0xC0 && marker <= 0xCF && marker != huffmanTables && marker != extension &&
            marker != arithmeticConditioning) {
            if (length < 7 || at + 7 > size)
                return;
            header.height = readBe16(data + at + 3);
            header.width = readBe16(data + at + 5);
            if (header.height == 0) // given by a DNL segment after the scan
                header.width = 0;
            return;
        }
        at += length;
    }
}

// The IHDR chunk comes first: length 13, "IHDR", width, height (big endian).
void readPng(const std::uint8_t* data, std::size_t size, PictureHeader& header)
{
    if (size < 24 || readBe32(data + 8) < 8 || std::memcmp(data + 12, "IHDR", 4) != 0)
        return;
    header.width = readBe32(data + 16);
    header.height = readBe32(data + 20);
}

// The logical screen: width and height (little endian) after the signature.
void readGif(const std::uint8_t* data, std::size_t size, PictureHeader& header)
{
    if (size < 10)
        return;
    header.width = readLe16(data + 6);
    header.height = readLe16(data + 8);
}

// The info header after the 14-byte file header: the old 12-byte form
// holds 16-bit sizes, the later forms 32-bit signed ones (a negative height
// stores the rows top-down).
void readBmp(const std::uint8_t* data, std::size_t size, PictureHeader& header)
{
    if (size < 26)
        return;
    if (readLe32(data + 14) == 12) {
        header.width = readLe16(data + 18);
        header.height = readLe16(data + 20);
        return;
    }
    const auto magnitude = [](std::uint32_t value) {
        return value & 0x80000000u ? 0u - value : value; // 0x80000000 stays itself: refused by any limit
    };
    header.width = magnitude(readLe32(data + 18));
    header.height = magnitude(readLe32(data + 22));
}

// The first image file directory's ImageWidth (256) and ImageLength (257)
// entries: 12 bytes each (tag, type, count, value), SHORT or LONG values.
void readTiff(const std::uint8_t* data, std::size_t size, PictureHeader& header)
{
    const bool little = data[0] == 'I';
    const auto read16 = [&](std::size_t at) { return little ? readLe16(data + at) : readBe16(data + at); };
    const auto read32 = [&](std::size_t at) { return little ? readLe32(data + at) : readBe32(data + at); };
    constexpr std::uint16_t shortType = 3, longType = 4;
    if (size < 8) // byte order, magic number, the directory's offset
        return;
    const std::uint32_t directory = read32(4);
    if (directory > size || size - directory < 2)
        return;
    const std::size_t entries = read16(directory);
    std::uint32_t width = 0, height = 0;
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t at = directory + 2 + 12 * i;
        if (at + 12 > size)
            return;
        const std::uint16_t tag = read16(at);
        const std::uint16_t type = read16(at + 2);
        const std::uint32_t value = type == shortType ? read16(at + 8) : type == longType ? read32(at + 8) : 0;
        if (tag == 256)
            width = value;
        else if (tag == 257)
            height = value;
    }
    if (width && height) {
        header.width = width;
        header.height = height;
    }
}

} // namespace

PictureHeader PictureHeader::read(const std::uint8_t* data, std::size_t size)
{
    PictureHeader header;
    if (startsWith(data, size, "\xFF\xD8\xFF", 3)) {
        header.format = PictureFormat::jpeg;
        readJpeg(data, size, header);
    } else if (startsWith(data, size, "\x89PNG\r\n\x1A\n", 8)) {
        header.format = PictureFormat::png;
        readPng(data, size, header);
    } else if (startsWith(data, size, "GIF87a", 6) || startsWith(data, size, "GIF89a", 6)) {
        header.format = PictureFormat::gif;
        readGif(data, size, header);
    } else if (startsWith(data, size, "BM", 2)) {
        header.format = PictureFormat::bmp;
        readBmp(data, size, header);
    } else if (startsWith(data, size, "II*\0", 4) || startsWith(data, size, "MM\0*", 4)) {
        header.format = PictureFormat::tiff;
        readTiff(data, size, header);
    }
    if (header.width == 0 || header.height == 0)
        header.width = header.height = 0;
    return header;
}

const char* pictureFormatName(PictureFormat format)
{
    switch (format) {
    case PictureFormat::jpeg:
        return "JPEG";
    case PictureFormat::png:
        return "PNG";
    case PictureFormat::gif:
        return "GIF";
    case PictureFormat::bmp:
        return "BMP";
    case PictureFormat::tiff:
        return "TIFF";
    case PictureFormat::unknown:
        break;
    }
    return "unknown";
}

} // namespace ape
