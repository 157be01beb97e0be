#include "DecoderTestSupport.h"
#include "apecodec.h"
#include "format/ByteOrder.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace apetest;

namespace {

std::string field(ape::Decompressor& d, const char* key)
{
    int size = c_APETag_GetFieldSize(&d, key);
    if (size < 0)
        return "<missing>";
    std::string value(std::size_t(size), '\0');
    int capacity = size;
    EXPECT_EQ(c_APETag_GetFieldData(&d, key, value.data(), &capacity), 0);
    return value;
}

// A copy of `bytes` with the APE tag (if any) cut off and an ID3v1 tag appended.
std::vector<std::uint8_t> withId3v1Only(const std::vector<std::uint8_t>& bytes, std::uint64_t streamEnd)
{
    std::vector<std::uint8_t> out(bytes.begin(), bytes.begin() + std::ptrdiff_t(streamEnd));
    std::uint8_t tag[128] = {};
    std::memcpy(tag, "TAG", 3);
    std::memcpy(tag + 3, "Caf\xe9 Title", 10);
    std::memcpy(tag + 33, "Artist   ", 9); // trailing spaces are padding
    std::memcpy(tag + 63, "Album", 5);
    std::memcpy(tag + 93, "1999", 4);
    std::memcpy(tag + 97, "A comment", 9);
    tag[126] = 7;  // ID3v1.1 track
    tag[127] = 17; // Rock
    out.insert(out.end(), tag, tag + 128);
    return out;
}

} // namespace

TEST(Tags, ApeV2KeysMatchWhateverTheirCaseAndValuesAreTheStoredUtf8)
{
    auto d = openFile(realFile("atl-ape.ape"));
    EXPECT_EQ(d->tag().kind(), ape::ApeTag::Kind::apeV2);
    EXPECT_EQ(field(*d, "title"), field(*d, "TITLE"));
    EXPECT_NE(field(*d, "Title"), "<missing>");
    // The album holds non-ASCII text: the bytes must be valid UTF-8 as stored.
    std::string album = field(*d, "album");
    EXPECT_TRUE(std::any_of(album.begin(), album.end(), [](char c) { return (unsigned char)c >= 0x80; }));
    EXPECT_EQ(field(*d, "NoSuchField"), "<missing>");
}

TEST(Tags, ApeTagFollowedById3v1IsFoundAndPreferred)
{
    auto d = openFile(realFile("taglib-mac-399-tagged.ape"));
    EXPECT_EQ(d->tag().kind(), ape::ApeTag::Kind::apeV2);
    EXPECT_NE(field(*d, "Artist"), "<missing>");
    EXPECT_EQ(field(*d, "Genre"), "<missing>"); // only in the ID3v1 tag, which is not used
}

TEST(Tags, ApeV1TagIsRead)
{
    auto d = openFile(realFile("audioscan-apev1.ape"));
    EXPECT_EQ(d->tag().kind(), ape::ApeTag::Kind::apeV1);
    for (const char* key : {"Artist", "Album", "Title", "Genre", "Year", "Comment"})
        EXPECT_NE(field(*d, key), "<missing>") << key;
}

TEST(Tags, Id3v1IsTheFallbackWithoutAnApeTag)
{
    auto original = openFile(realFile("atl-ape.ape"));
    auto bytes = withId3v1Only(readBytes(realFile("atl-ape.ape")), original->tag().streamEnd());
    auto d = ape::Decompressor::open(std::make_unique<ape::MemoryByteSource>(bytes.data(), bytes.size()));
    EXPECT_EQ(d->tag().kind(), ape::ApeTag::Kind::id3v1);
    EXPECT_EQ(field(*d, "Title"), "Caf\xe9 Title");
    EXPECT_EQ(field(*d, "artist"), "Artist");
    EXPECT_EQ(field(*d, "Album"), "Album");
    EXPECT_EQ(field(*d, "Year"), "1999");
    EXPECT_EQ(field(*d, "Comment"), "A comment");
    EXPECT_EQ(field(*d, "Track"), "7");
    EXPECT_EQ(field(*d, "Genre"), "Rock");
    // The audio is untouched by the tag change.
    EXPECT_EQ(decodeRest(*d, 1 << 20), decodeRest(*original, 1 << 20));
}

TEST(Tags, ItemsThatRunOutsideTheTagEndTheListInsteadOfBeingRead)
{
    auto bytes = readBytes(realFile("picard-test.ape"));
    // Build an APEv2 tag by hand: one good item, then one whose value size overruns.
    std::vector<std::uint8_t> items;
    ape::ByteWriter w(items);
    w.u32(2);
    w.u32(0);
    w.bytes("Ok\0", 3);
    w.bytes("hi", 2);
    w.u32(0x7FFFFFF0);
    w.u32(0);
    w.bytes("Bad\0", 4);
    w.bytes("xx", 2);
    std::vector<std::uint8_t> footer;
    ape::ByteWriter f(footer);
    f.bytes("APETAGEX", 8);
    f.u32(2000);
    f.u32(std::uint32_t(items.size() + 32));
    f.u32(1000); // item count far beyond what fits
    f.u32(0);
    f.u32(0);
    f.u32(0);
    bytes.insert(bytes.end(), items.begin(), items.end());
    bytes.insert(bytes.end(), footer.begin(), footer.end());
    auto d = ape::Decompressor::open(std::make_unique<ape::MemoryByteSource>(bytes.data(), bytes.size()));
    EXPECT_EQ(field(*d, "OK"), "hi");
    EXPECT_EQ(field(*d, "Bad"), "<missing>");
}
