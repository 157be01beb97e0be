// APEv2 tags as written read back through the shared tag reader, and keys or
// values the format forbids are refused before anything is written.

#include "encoder/ApeTagWriter.h"
#include "encoder/EncodeError.h"
#include "decoder/MemoryByteSource.h"
#include "format/ApeTag.h"
#include "format/ByteOrder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ape {
namespace {

TEST(ApeTagWriter, ItemsReadBackWithTheirKeysAndUtf8Values)
{
    ApeTagWriter writer;
    writer.addText("Artist", "The Sine Wave Ensemble");
    writer.addText("Title", "\xC3\x89tude \xE2\x9C\x93 \xF0\x9D\x84\x9E"); // É, a check mark, a G clef
    writer.addText("File URL", "https://example.org/a.ape");
    writer.addText("Empty", "");

    std::vector<std::uint8_t> file(100, 0x55); // stands in for the audio
    const std::vector<std::uint8_t> tag = writer.bytes();
    file.insert(file.end(), tag.begin(), tag.end());
    MemoryByteSource source(file.data(), file.size());
    const ApeTag read = ApeTag::read(source);

    EXPECT_EQ(read.kind(), ApeTag::Kind::apeV2);
    EXPECT_EQ(read.streamEnd(), 100u);
    ASSERT_EQ(read.items().size(), 4u);
    ASSERT_NE(read.find("title"), nullptr);
    EXPECT_EQ(read.find("title")->key, "Title");
    EXPECT_EQ(read.find("TITLE")->value, "\xC3\x89tude \xE2\x9C\x93 \xF0\x9D\x84\x9E");
    EXPECT_EQ(read.find("file url")->value, "https://example.org/a.ape");
    EXPECT_EQ(read.find("Empty")->size, 0u);
    for (const TagItem& item : read.items())
        EXPECT_EQ(item.flags, 0u) << item.key; // read-write UTF-8 text
}

TEST(ApeTagWriter, HeaderAndFooterAgreeAndOnlyTheHeaderSaysSo)
{
    ApeTagWriter writer;
    writer.addText("Genre", "Ambient");
    const std::vector<std::uint8_t> tag = writer.bytes();
    ASSERT_GE(tag.size(), 64u);
    const std::uint8_t* header = tag.data();
    const std::uint8_t* footer = tag.data() + tag.size() - 32;
    EXPECT_EQ(std::string(header, header + 8), "APETAGEX");
    EXPECT_EQ(std::string(footer, footer + 8), "APETAGEX");
    for (int field = 8; field < 20; field += 4)
        EXPECT_EQ(readLe32(header + field), readLe32(footer + field)) << "field at " << field;
    EXPECT_EQ(readLe32(footer + 8), 2000u);
    EXPECT_EQ(readLe32(footer + 12), tag.size() - 32); // the header is not counted
    EXPECT_EQ(readLe32(header + 20), 0xA0000000u);
    EXPECT_EQ(readLe32(footer + 20), 0x80000000u);
}

TEST(ApeTagWriter, RefusesKeysTheFormatForbids)
{
    for (const std::string& key :
         {std::string("A"), std::string(256, 'k'), std::string("ID3"), std::string("tag"), std::string("OGGS"),
          std::string("MP+"), std::string("K\xC3\xA9y"), std::string("Tab\tKey")}) {
        ApeTagWriter writer;
        EXPECT_THROW(writer.addText(key, "value"), EncodeError) << key;
    }
    ApeTagWriter writer;
    writer.addText("Title", "one");
    EXPECT_THROW(writer.addText("TITLE", "two"), EncodeError);
}

TEST(ApeTagWriter, RefusesValuesThatAreNotUtf8)
{
    for (const std::string& value : {std::string("\xC3"), std::string("\xC0\xAF"), std::string("\xED\xA0\x80"),
                                     std::string("\xF4\x90\x80\x80"), std::string("ok\xFF"), std::string("\xE2\x9C")}) {
        ApeTagWriter writer;
        EXPECT_THROW(writer.addText("Comment", value), EncodeError);
        EXPECT_TRUE(writer.empty());
    }
}

} // namespace
} // namespace ape
