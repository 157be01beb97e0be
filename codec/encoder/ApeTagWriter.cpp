#include "encoder/ApeTagWriter.h"

#include "encoder/EncodeError.h"
#include "format/ByteOrder.h"
#include "format/Utf8.h"

#include <algorithm>
#include <array>

namespace ape {

namespace {

constexpr std::uint32_t tagVersion = 2000;
constexpr std::uint32_t hasHeader = 1u << 31;
constexpr std::uint32_t isHeader = 1u << 29;
constexpr std::size_t footerBytes = 32;
constexpr std::array<std::string_view, 4> reservedKeys = {"ID3", "TAG", "OggS", "MP+"};

bool equalIgnoringCase(std::string_view a, std::string_view b)
{
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

void writeHeaderOrFooter(ByteWriter& w, std::uint32_t tagSize, std::uint32_t itemCount, std::uint32_t flags)
{
    w.bytes("APETAGEX", 8);
    w.u32(tagVersion);
    w.u32(tagSize);
    w.u32(itemCount);
    w.u32(flags);
    w.u32(0);
    w.u32(0);
}

} // namespace

void ApeTagWriter::addText(std::string_view key, std::string_view utf8Value)
{
    const std::string shown(key);
    if (key.size() < 2 || key.size() > 255)
        throw EncodeError("tag key \"" + shown + "\" must have 2 to 255 characters");
    if (!std::all_of(key.begin(), key.end(), [](char c) { return c >= 0x20 && c <= 0x7E; }))
        throw EncodeError("tag key \"" + shown + "\" must be printable ASCII");
    for (std::string_view reserved : reservedKeys)
        if (equalIgnoringCase(key, reserved))
            throw EncodeError("tag key \"" + shown + "\" is reserved");
    for (const Item& item : items)
        if (equalIgnoringCase(item.key, key))
            throw EncodeError("tag key \"" + shown + "\" is given twice");
    if (!isValidUtf8(utf8Value))
        throw EncodeError("tag value for \"" + shown + "\" is not valid UTF-8");
    items.push_back({std::string(key), std::string(utf8Value)});
}

std::vector<std::uint8_t> ApeTagWriter::bytes() const
{
    std::vector<std::uint8_t> itemBytes;
    ByteWriter itemWriter(itemBytes);
    for (const Item& item : items) {
        itemWriter.u32(static_cast<std::uint32_t>(item.value.size()));
        itemWriter.u32(0); // UTF-8 text, read-write
        itemWriter.bytes(item.key.data(), item.key.size());
        itemWriter.u8(0);
        itemWriter.bytes(item.value.data(), item.value.size());
    }
    const auto tagSize = static_cast<std::uint32_t>(itemBytes.size() + footerBytes);
    const auto count = static_cast<std::uint32_t>(items.size());

    std::vector<std::uint8_t> tag;
    ByteWriter w(tag);
    writeHeaderOrFooter(w, tagSize, count, hasHeader | isHeader);
    w.bytes(itemBytes.data(), itemBytes.size());
    writeHeaderOrFooter(w, tagSize, count, hasHeader);
    return tag;
}

} // namespace ape
