// The pictures an APE tag holds: binary items whose value is a file name, a
// NUL and the picture's bytes ("Cover Art (Front)", "Cover Art (Back)"...).
// Finding them reads nothing; describing one reads at most its first
// describedBytes; its bytes are read only up to sizeLimit, which bounds what
// a reader of pictures ever holds of a file.
#pragma once

#include "format/ApeTag.h"
#include "format/ByteSource.h"
#include "format/PictureHeader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ape {

struct TagPicture {
    std::string kind;             // the item's key, such as "Cover Art (Front)"
    std::string fileName;         // as stored before the NUL; may be empty
    std::uint64_t dataOffset = 0; // of the picture's bytes in the value
    std::uint32_t dataSize = 0;   // the picture's bytes
    // From the first bytes read; a JPEG's size may lie beyond them.
    PictureHeader header;

    // Binary items: an item flagged as text or link holds no picture.
    static bool isPicture(const TagItem& item);
    // The first picture keyed "Cover Art (Front)" (in any case), else the
    // first picture; null when the tag holds none.
    static const TagItem* frontCover(const ApeTag& tag);
    // False when the value holds no NUL within its first describedBytes
    // or cannot be read.
    static bool describe(ByteSource& source, const TagItem& item, TagPicture& out);
    // The picture's bytes; false when there are more than sizeLimit or
    // they cannot be read.
    static bool readData(ByteSource& source, const TagItem& item, const TagPicture& picture,
                         std::vector<std::uint8_t>& out);

    static constexpr std::uint32_t describedBytes = 64 * 1024;
    static constexpr std::uint32_t sizeLimit = 16 * 1024 * 1024;
};

} // namespace ape
