#include "format/ApeTag.h"

#include "format/ByteOrder.h"

#include <algorithm>
#include <cstring>

namespace ape {
namespace {

constexpr std::uint32_t footerSize = 32;
constexpr std::uint32_t id3v1Size = 128;
constexpr std::uint32_t maximumKeyLength = 255;
constexpr std::uint32_t itemHeaderSize = 8;                // value size, item flags
constexpr std::uint32_t smallestItem = itemHeaderSize + 2; // one-character key and its NUL
constexpr std::uint32_t hasHeaderFlag = 1u << 31;
constexpr std::uint32_t isHeaderFlag = 1u << 29;

// ID3v1 layout: field, offset, length (bytes).
struct Id3v1Field {
    const char* key;
    int offset;
    int length;
};
constexpr Id3v1Field id3v1Fields[] = {
    {"Title", 3, 30},
    {"Artist", 33, 30},
    {"Album", 63, 30},
    {"Year", 93, 4},
};
constexpr int id3v1Comment = 97; // 30 bytes, or 28 + NUL + track number (ID3v1.1)
constexpr int id3v1TrackMarker = 125;
constexpr int id3v1Track = 126;
constexpr int id3v1Genre = 127;

// The genre names of the ID3v1 definition, by index.
constexpr const char* id3v1Genres[] = {"Blues",
                                       "Classic Rock",
                                       "Country",
                                       "Dance",
                                       "Disco",
                                       "Funk",
                                       "Grunge",
                                       "Hip-Hop",
                                       "Jazz",
                                       "Metal",
                                       "New Age",
                                       "Oldies",
                                       "Other",
                                       "Pop",
                                       "R&B",
                                       "Rap",
                                       "Reggae",
                                       "Rock",
                                       "Techno",
                                       "Industrial",
                                       "Alternative",
                                       "Ska",
                                       "Death Metal",
                                       "Pranks",
                                       "Soundtrack",
                                       "Euro-Techno",
                                       "Ambient",
                                       "Trip-Hop",
                                       "Vocal",
                                       "Jazz+Funk",
                                       "Fusion",
                                       "Trance",
                                       "Classical",
                                       "Instrumental",
                                       "Acid",
                                       "House",
                                       "Game",
                                       "Sound Clip",
                                       "Gospel",
                                       "Noise",
                                       "AlternRock",
                                       "Bass",
                                       "Soul",
                                       "Punk",
                                       "Space",
                                       "Meditative",
                                       "Instrumental Pop",
                                       "Instrumental Rock",
                                       "Ethnic",
                                       "Gothic",
                                       "Darkwave",
                                       "Techno-Industrial",
                                       "Electronic",
                                       "Pop-Folk",
                                       "Eurodance",
                                       "Dream",
                                       "Southern Rock",
                                       "Comedy",
                                       "Cult",
                                       "Gangsta",
                                       "Top 40",
                                       "Christian Rap",
                                       "Pop/Funk",
                                       "Jungle",
                                       "Native American",
                                       "Cabaret",
                                       "New Wave",
                                       "Psychadelic",
                                       "Rave",
                                       "Showtunes",
                                       "Trailer",
                                       "Lo-Fi",
                                       "Tribal",
                                       "Acid Punk",
                                       "Acid Jazz",
                                       "Polka",
                                       "Retro",
                                       "Musical",
                                       "Rock & Roll",
                                       "Hard Rock"};

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
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
std::string trimmedField(const std::uint8_t* p, int length)
{
    int n = 0;
    while (n < length && p[n] != 0)
        ++n;
    while (n > 0 && p[n - 1] == ' ')
        --n;
    return std::string(reinterpret_cast<const char*>(p), std::size_t(n));
}

} // namespace

ApeTag ApeTag::read(ByteSource& source)
{
    ApeTag tag;
    std::uint64_t end = source.size();
    tag.endOffset = end;
    std::uint8_t id3[id3v1Size];
    bool hasId3v1 = end >= id3v1Size && source.read(end - id3v1Size, id3, id3v1Size) && std::memcmp(id3, "TAG", 3) == 0;
    if (hasId3v1) {
        end -= id3v1Size;
        tag.endOffset = end;
    }
    if (!tag.readApeTag(source, end) && hasId3v1)
        tag.readId3v1(id3);
    return tag;
}

bool ApeTag::readApeTag(ByteSource& source, std::uint64_t end)
{
    std::uint8_t footer[footerSize];
    if (end < footerSize || !source.read(end - footerSize, footer, footerSize) ||
        std::memcmp(footer, "APETAGEX", 8) != 0)
        return false;
    std::uint32_t version = readLe32(footer + 8);
    std::uint32_t tagSize = readLe32(footer + 12);
    std::uint32_t itemCount = readLe32(footer + 16);
    std::uint32_t flags = readLe32(footer + 20);
    if ((version != 1000 && version != 2000) || (flags & isHeaderFlag) || tagSize < footerSize || tagSize > end)
        return false;
    bool hasHeader = version == 2000 && (flags & hasHeaderFlag);
    if (hasHeader && std::uint64_t(tagSize) + footerSize > end)
        return false;

    tagKind = version == 2000 ? Kind::apeV2 : Kind::apeV1;
    endOffset = end - tagSize - (hasHeader ? footerSize : 0);
    std::uint64_t at = end - tagSize;
    const std::uint64_t areaEnd = end - footerSize;
    itemCount = std::min<std::uint32_t>({itemCount, std::uint32_t((areaEnd - at) / smallestItem), itemLimit});
    std::uint64_t held = 0;

    std::uint8_t head[itemHeaderSize + maximumKeyLength + 1];
    for (std::uint32_t i = 0; i < itemCount && at < areaEnd; ++i) {
        std::size_t want = std::size_t(std::min<std::uint64_t>(sizeof head, areaEnd - at));
        if (want < smallestItem || !source.read(at, head, want))
            break;
        std::uint32_t valueSize = readLe32(head);
        std::uint32_t itemFlags = readLe32(head + 4);
        const std::uint8_t* key = head + itemHeaderSize;
        const std::uint8_t* nul = static_cast<const std::uint8_t*>(std::memchr(key, 0, want - itemHeaderSize));
        if (!nul || nul == key || !std::all_of(key, nul, [](std::uint8_t c) { return c >= 0x20 && c <= 0x7E; }))
            break;
        std::uint64_t valueAt = at + std::uint64_t(nul - head) + 1;
        if (valueSize > areaEnd - valueAt)
            break;
        TagItem item;
        item.key.assign(reinterpret_cast<const char*>(key), std::size_t(nul - key));
        item.flags = tagKind == Kind::apeV2 ? itemFlags : 0;
        item.size = valueSize;
        item.offset = valueAt;
        if (valueSize <= heldValueLimit && held + valueSize <= heldTotalLimit) {
            held += valueSize;
            item.value.resize(valueSize);
            if (valueSize && !source.read(valueAt, item.value.data(), valueSize))
                break;
            item.held = true;
        }
        tagItems.push_back(std::move(item));
        at = valueAt + valueSize;
    }
    return true;
}

void ApeTag::readId3v1(const std::uint8_t* tag)
{
    tagKind = Kind::id3v1;
    auto add = [this](const char* key, std::string value) {
        if (value.empty())
            return;
        TagItem item;
        item.key = key;
        item.size = std::uint32_t(value.size());
        item.held = true;
        item.value = std::move(value);
        tagItems.push_back(std::move(item));
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
    for (const TagItem& item : tagItems)
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

std::uint64_t ApeTag::leadingId3v2Size(const std::uint8_t* first10)
{
    if (std::memcmp(first10, "ID3", 3) != 0)
        return 0;
    std::uint32_t size = 0;
    for (int i = 6; i < 10; ++i)
        size = (size << 7) | (first10[i] & 0x7F);
    constexpr std::uint8_t footerPresent = 0x10;
    return 10 + std::uint64_t(size) + ((first10[5] & footerPresent) ? 10 : 0);
}

} // namespace ape
