// libFuzzer entry for the pictures of a tag, as the thumbnail handler and
// apeplay read them: the input as a whole file, its tag read, the front
// cover chosen, every picture item described (file name, format, pixel
// size) and its bytes read within the size limit, their header read again
// over all of them. The input alone is also read as a picture's first
// bytes, which reaches every format's header directly. Missing pictures
// and unreadable headers are fine; crashes, sanitizer reports, leaks, hangs
// and answers that contradict each other (abort) are not.
//
// The work per input is linear in its length: each value is read at most
// twice, and only the first describedItems pictures are described.
#include "decoder/MemoryByteSource.h"
#include "format/ApeTag.h"
#include "format/PictureHeader.h"
#include "format/TagPicture.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr std::size_t describedItems = 64;

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "picture answers contradict each other: %s\n", what);
        std::abort();
    }
}

void checkHeader(const ape::PictureHeader& header)
{
    check((header.width == 0) == (header.height == 0), "a picture with one dimension");
    check(header.format != ape::PictureFormat::unknown || header.width == 0, "a size without a format");
}

void readPictures(ape::ByteSource& source)
{
    const ape::ApeTag tag = ape::ApeTag::read(source);
    const ape::TagItem* front = ape::TagPicture::frontCover(tag);
    const auto pictures = std::count_if(tag.items().begin(), tag.items().end(), ape::TagPicture::isPicture);
    check((front != nullptr) == (pictures > 0), "a front cover without pictures, or none among them");
    check(!front || ape::TagPicture::isPicture(*front), "the front cover is no picture");

    std::size_t described = 0;
    for (const ape::TagItem& item : tag.items()) {
        if (!ape::TagPicture::isPicture(item) || described++ == describedItems)
            continue;
        ape::TagPicture picture;
        if (!ape::TagPicture::describe(source, item, picture))
            continue;
        checkHeader(picture.header);
        check(picture.dataOffset == picture.fileName.size() + 1, "the data does not follow the name's NUL");
        check(picture.dataOffset + picture.dataSize == item.size, "name and data do not make up the value");
        check(picture.fileName.find('\0') == std::string::npos, "a NUL inside the file name");
        std::vector<std::uint8_t> data;
        const bool read = ape::TagPicture::readData(source, item, picture, data);
        check(read == (picture.dataSize <= ape::TagPicture::sizeLimit), "bytes inside the file were not read");
        if (!read)
            continue;
        check(data.size() == picture.dataSize, "the bytes read differ from the size");
        const ape::PictureHeader whole = ape::PictureHeader::read(data.data(), data.size());
        checkHeader(whole);
        // What the first bytes showed, all of them show: the size only when
        // the first bytes reached it.
        const bool firstBytesHoldTheSignature =
            item.size <= ape::TagPicture::describedBytes || picture.dataOffset + 8 <= ape::TagPicture::describedBytes;
        check(!firstBytesHoldTheSignature || whole.format == picture.header.format, "the format changed");
        check(picture.header.width == 0 ||
                  (whole.width == picture.header.width && whole.height == picture.header.height),
              "the size changed");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ape::MemoryByteSource file(data, size);
    readPictures(file);
    checkHeader(ape::PictureHeader::read(data, size));
    return 0;
}
