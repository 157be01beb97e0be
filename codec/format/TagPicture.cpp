#include "format/TagPicture.h"

#include <algorithm>
#include <cstring>

namespace ape {
namespace {

constexpr std::uint32_t itemTypeMask = 6; // flag bits 1-2
constexpr std::uint32_t binaryItem = 2;   // type 1
constexpr std::string_view frontCoverKey = "Cover Art (Front)";

// `count` bytes of the item's value from `offset`, which the caller keeps
// inside the value.
bool readPart(ByteSource& source, const TagItem& item, std::uint64_t offset, std::uint8_t* out, std::size_t count)
{
    if (count == 0) // an empty value holds no bytes to point at
        return true;
    if (item.held) {
        std::memcpy(out, item.value.data() + offset, count);
        return true;
    }
    return source.read(item.offset + offset, out, count);
}

} // namespace

bool TagPicture::isPicture(const TagItem& item)
{
    return (item.flags & itemTypeMask) == binaryItem;
}

const TagItem* TagPicture::frontCover(const ApeTag& tag)
{
    const TagItem* front = tag.find(frontCoverKey);
    if (front && isPicture(*front))
        return front;
    const auto first = std::find_if(tag.items().begin(), tag.items().end(), isPicture);
    return first == tag.items().end() ? nullptr : &*first;
}

bool TagPicture::describe(ByteSource& source, const TagItem& item, TagPicture& out)
{
    std::vector<std::uint8_t> start(std::min(item.size, describedBytes));
    if (!readPart(source, item, 0, start.data(), start.size()))
        return false;
    const auto nul = std::find(start.begin(), start.end(), 0);
    if (nul == start.end())
        return false;
    out.kind = item.key;
    out.fileName.assign(start.begin(), nul);
    out.dataOffset = out.fileName.size() + 1;
    out.dataSize = item.size - static_cast<std::uint32_t>(out.dataOffset);
    const std::size_t headerBytes = static_cast<std::size_t>(start.end() - nul - 1);
    out.header = PictureHeader::read(headerBytes ? &*(nul + 1) : nullptr, headerBytes);
    return true;
}

bool TagPicture::readData(ByteSource& source, const TagItem& item, const TagPicture& picture,
                          std::vector<std::uint8_t>& out)
{
    if (picture.dataSize > sizeLimit || picture.dataOffset + picture.dataSize > item.size)
        return false;
    out.resize(picture.dataSize);
    return readPart(source, item, picture.dataOffset, out.data(), out.size());
}

} // namespace ape
