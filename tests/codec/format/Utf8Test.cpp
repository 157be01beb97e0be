// UTF-8 as tag text: what is well-formed decodes to the UTF-16 the
// characters have, surrogate pairs past U+FFFF included; every malformed
// sequence the Windows converters refuse is refused here as well, by the
// check and the decoder alike.
#include "format/Utf8.h"

#include <gtest/gtest.h>

#include <string_view>

using namespace std::string_view_literals;

TEST(Utf8, WellFormedTextDecodesToItsCharactersAndMalformedTextToNothing)
{
    struct Decoded {
        std::string_view bytes;
        std::u16string_view text;
    };
    const Decoded wellFormed[] = {
        {""sv, u""sv},
        {"Artist"sv, u"Artist"sv},
        {"a\0b"sv, u"a\0b"sv},                                                 // NUL separates an item's values
        {"\xc3\xa9t\xc3\xa9"sv, u"\u00e9t\u00e9"sv},                           // two bytes
        {"\xe2\x82\xac"sv, u"\u20ac"sv},                                       // three bytes
        {"\xef\xbf\xbf"sv, u"\uffff"sv},                                       // a noncharacter is still text
        {"\xf0\x9f\x8e\xb5"sv, u"\U0001f3b5"sv},                               // four bytes: a surrogate pair
        {"\xf4\x8f\xbf\xbf"sv, u"\U0010ffff"sv},                               // the last code point
        {"\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80"sv, u"\u007f\u0080\u07ff\u0800"sv}, // each form's edges
    };
    for (const Decoded& c : wellFormed) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.bytes)));
        EXPECT_TRUE(ape::isValidUtf8(c.bytes));
        const std::optional<std::u16string> text = ape::decodeUtf8(c.bytes);
        ASSERT_TRUE(text.has_value());
        EXPECT_EQ(*text, c.text);
    }

    const std::string_view malformed[] = {
        "\x80"sv,             // a stray continuation byte
        "ab\xbf"sv,           // one at the end
        "\xc3"sv,             // a lead byte cut short
        "\xe2\x82"sv,         // a three-byte form cut short
        "\xe2\x82x"sv,        // a continuation that is not one
        "\xc0\x80"sv,         // overlong NUL
        "\xc1\xbf"sv,         // overlong two-byte form
        "\xe0\x9f\xbf"sv,     // overlong three-byte form
        "\xf0\x8f\xbf\xbf"sv, // overlong four-byte form
        "\xed\xa0\x80"sv,     // an encoded high surrogate
        "\xed\xbf\xbf"sv,     // an encoded low surrogate
        "\xf4\x90\x80\x80"sv, // past U+10FFFF
        "\xf8\x88\x80\x80\x80"sv,
        "\xff"sv,
        "ok \xe9t\xe9"sv, // Latin-1 that an old tagger wrote
    };
    for (const std::string_view bytes : malformed) {
        SCOPED_TRACE(testing::PrintToString(std::string(bytes)));
        EXPECT_FALSE(ape::isValidUtf8(bytes));
        EXPECT_FALSE(ape::decodeUtf8(bytes).has_value());
    }
}
