// The metadata at the end of a file: an APEv2 or APEv1 tag, optionally
// followed by a 128-byte ID3v1 tag, which serves as the fallback when there is
// no APE tag. Also finds where the audio stream ends (the tag's first byte).
//
// Parsing stays inside the tag's area: an item whose header, key or value does
// not fit ends the item list. Small values are kept in memory; large ones
// (cover art) are read from the source when asked for, so a tag never costs
// more memory than its text. After read() the object is immutable, so any
// number of threads may query it at once.
#pragma once

#include "format/ByteSource.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ape {

struct TagItem {
    std::string key;          // as stored; compared case-insensitively
    std::uint32_t flags = 0;  // APE item flags: bit 0 read-only, bits 1-2 type (0 text, 1 binary, 2 link)
    std::uint32_t size = 0;   // value bytes
    std::uint64_t offset = 0; // of the value in the source, when not held
    bool held = false;        // the value is in `value`
    std::string value;
};

class ApeTag {
public:
    enum class Kind { none, apeV1, apeV2, id3v1 };

    // Values up to this size are held in memory, until they hold heldTotalLimit
    // bytes together; the rest are read when asked for. Items beyond
    // itemLimit are ignored. Together these bound a tag's memory.
    static constexpr std::uint32_t heldValueLimit = 4096;
    static constexpr std::uint32_t heldTotalLimit = 1 << 20;
    static constexpr std::uint32_t itemLimit = 65536;

    // Reads the tags that end `source`. A damaged tag is ignored, never an error.
    static ApeTag read(ByteSource& source);
    // Bytes of an ID3v2 tag at the start of a file, given its first 10 bytes
    // (0 when they do not open one).
    static std::uint64_t leadingId3v2Size(const std::uint8_t* first10);

    Kind kind() const { return tagKind; }
    // Offset of the first byte that belongs to a tag at the end (the file
    // size when there is none): audio data never extends past it.
    std::uint64_t streamEnd() const { return endOffset; }
    const std::vector<TagItem>& items() const { return tagItems; }
    // The first item whose key matches case-insensitively, or null.
    const TagItem* find(std::string_view key) const;
    // Copies the item's whole value to `out` (item.size bytes).
    static bool readValue(ByteSource& source, const TagItem& item, void* out);

private:
    bool readApeTag(ByteSource& source, std::uint64_t end);
    void readId3v1(const std::uint8_t* tag);

    Kind tagKind = Kind::none;
    std::uint64_t endOffset = 0;
    std::vector<TagItem> tagItems;
};

} // namespace ape
