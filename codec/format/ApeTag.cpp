#include "ApeTag.h"

#include "ByteOrder.h"

#include <algorithm>
#include <cstring>

namespace ape {
namespace {

constexpr uint32_t footerSize = 32;
constexpr uint32_t id3v1Size = 128;
constexpr uint32_t maximumKeyLength = 255;
constexpr uint32_t itemHeaderSize = 8;      // value size, item flags
constexpr uint32_t smallestItem = itemHeaderSize + 2; // one-character key and its NUL
constexpr uint32_t hasHeaderFlag = 1u << 31;
constexpr uint32_t isHeaderFlag = 1u << 29;

// ID3v1 layout: field, offset, length (bytes).
struct Id3v1Field {
    const char* key;
    int offset;
    int length;
};
constexpr Id3v1Field id3v1Fields[] = {
    {"Title", 3, 30}, {"Artist", 33, 30}, {"Album", 63, 30}, {"Year", 93, 4},
};
constexpr int id3v1Comment = 97;      // 30 bytes, or 28 + NUL + track number (ID3v1.1)
constexpr int id3v1TrackMarker = 125;
constexpr int id3v1Track = 126;
constexpr int id3v1Genre = 127;

// The genre names of the ID3v1 definition, by index.
constexpr const char* id3v1Genres[] = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal",
    "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial",
    "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop",
    "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House", "Game",
    "Sound Clip", "Gospel", "Noise", "AlternRock", "Bass", "Soul", "Punk", "Space", "Meditative",
    "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic", "Darkwave", "Techno-Industrial",
    "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40",
    "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave", "Psychadelic", "Rave",
    "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical",
    "Rock & Roll", "Hard Rock"};

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y + 32);
        if (x != y)
            return false;
    }
    return true;
}

// Latin-1 text of a fixed-width ID3v1 field without its zero/space padding.
std::string trimmedField(const uint8_t* p, int length)
{
    int n = 0;
    while (n < length && p[n] != 0)
        ++n;
    while (n > 0 && p[n - 1] == ' ')
        --n;
    return std::string(reinterpret_cast<const char*>(p), size_t(n));
}

} // namespace

ApeTag ApeTag::read(ByteSource& source)
{
    ApeTag tag;
    uint64_t end = source.size();
    tag.streamEnd_ = end;
    uint8_t id3[id3v1Size];
    bool hasId3v1 = end >= id3v1Size && source.read(end - id3v1Size, id3, id3v1Size) && std::memcmp(id3, "TAG", 3) == 0;
    if (hasId3v1) {
        end -= id3v1Size;
        tag.streamEnd_ = end;
    }
    if (!tag.readApeTag(source, end) && hasId3v1)
        tag.readId3v1(id3);
    return tag;
}

bool ApeTag::readApeTag(ByteSource& source, uint64_t end)
{
    uint8_t footer[footerSize];
    if (end < footerSize || !source.read(end - footerSize, footer, footerSize) ||
        std::memcmp(footer, "APETAGEX", 8) != 0)
        return false;
    uint32_t version = readLe32(footer + 8);
    uint32_t tagSize = readLe32(footer + 12);
    uint32_t itemCount = readLe32(footer + 16);
    uint32_t flags = readLe32(footer + 20);
    if ((version != 1000 && version != 2000) || (flags & isHeaderFlag) || tagSize < footerSize || tagSize > end)
        return false;
    bool hasHeader = version == 2000 && (flags & hasHeaderFlag);
    if (hasHeader && uint64_t(tagSize) + footerSize > end)
        return false;

    kind_ = version == 2000 ? Kind::apeV2 : Kind::apeV1;
    streamEnd_ = end - tagSize - (hasHeader ? footerSize : 0);
    uint64_t at = end - tagSize;
    const uint64_t areaEnd = end - footerSize;
    itemCount = std::min<uint32_t>({itemCount, uint32_t((areaEnd - at) / smallestItem), itemLimit});
    uint64_t held = 0;

    uint8_t head[itemHeaderSize + maximumKeyLength + 1];
    for (uint32_t i = 0; i < itemCount && at < areaEnd; ++i) {
        size_t want = size_t(std::min<uint64_t>(sizeof head, areaEnd - at));
        if (want < smallestItem || !source.read(at, head, want))
            break;
        uint32_t valueSize = readLe32(head);
        uint32_t itemFlags = readLe32(head + 4);
        const uint8_t* key = head + itemHeaderSize;
        const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(key, 0, want - itemHeaderSize));
        if (!nul || nul == key ||
            !std::all_of(key, nul, [](uint8_t c) { return c >= 0x20 && c <= 0x7E; }))
            break;
        uint64_t valueAt = at + uint64_t(nul - head) + 1;
        if (valueSize > areaEnd - valueAt)
            break;
        TagItem item;
        item.key.assign(reinterpret_cast<const char*>(key), size_t(nul - key));
        item.flags = kind_ == Kind::apeV2 ? itemFlags : 0;
        item.size = valueSize;
        item.offset = valueAt;
        if (valueSize <= heldValueLimit && held + valueSize <= heldTotalLimit) {
            held += valueSize;
            item.value.resize(valueSize);
            if (valueSize && !source.read(valueAt, item.value.data(), valueSize))
                break;
            item.held = true;
        }
        items_.push_back(std::move(item));
        at = valueAt + valueSize;
    }
    return true;
}

void ApeTag::readId3v1(const uint8_t* tag)
{
    kind_ = Kind::id3v1;
    auto add = [this](const char* key, std::string value) {
        if (value.empty())
            return;
        TagItem item;
        item.key = key;
        item.size = uint32_t(value.size());
        item.held = true;
        item.value = std::move(value);
        items_.push_back(std::move(item));
    };
    for (const Id3v1Field& f : id3v1Fields)
        add(f.key, trimmedField(tag + f.offset, f.length));
    bool hasTrack = tag[id3v1TrackMarker] == 0 && tag[id3v1Track] != 0;
    add("Comment", trimmedField(tag + id3v1Comment, hasTrack ? 28 : 30));
    if (hasTrack)
        add("Track", std::to_string(tag[id3v1Track]));
    if (tag[id3v1Genre] < std::size(id3v1Genres))
        add("Genre", id3v1Genres[tag[id3v1Genre]]);
}

const TagItem* ApeTag::find(std::string_view key) const
{
    for (const TagItem& item : items_)
        if (equalsIgnoringCase(item.key, key))
            return &item;
    return nullptr;
}

bool ApeTag::readValue(ByteSource& source, const TagItem& item, void* out)
{
    if (item.held) {
        if (item.size)
            std::memcpy(out, item.value.data(), item.size);
        return true;
    }
    return source.read(item.offset, out, item.size);
}

uint64_t ApeTag::leadingId3v2Size(const uint8_t* first10)
{
    if (std::memcmp(first10, "ID3", 3) != 0)
        return 0;
    uint32_t size = 0;
    for (int i = 6; i < 10; ++i)
        size = (size << 7) | (first10[i] & 0x7F);
    constexpr uint8_t footerPresent = 0x10;
    return 10 + uint64_t(size) + ((first10[5] & footerPresent) ? 10 : 0);
}

} // namespace ape
