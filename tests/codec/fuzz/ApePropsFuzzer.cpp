// libFuzzer entry for what the Explorer property handler reads of a file:
// any byte string as a whole file, summarised by ApeFileSummary (shellprops/)
// as the handler does, with the container opened once more beside it to
// check the answers against the header. Refusals (CodecError) are fine;
// crashes, sanitizer reports, leaks, hangs and values outside their
// documented bounds (abort) are not. The input's bytes are also decoded as
// UTF-8, which must give them back when encoded again.
//
// The work per input is linear in its length: the header, the seek table's
// last entry, and each shown tag value read once.
#include "decoder/ApeContainer.h"
#include "decoder/MemoryByteSource.h"
#include "format/ApeTag.h"
#include "format/CodecError.h"
#include "format/Utf8.h"
#include "shellprops/ApeFileSummary.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace {

using Summary = ApeFileSummary;
using Wide = unsigned __int128;

// The item keys each field may come from, in the order of Summary::Field.
constexpr const char* fieldItemKeys[][2] = {
    {"Title"}, {"Artist"},  {"Album"},     {"Album Artist", "AlbumArtist"}, {"Genre"}, {"Year"},
    {"Track"}, {"Comment"}, {"Copyright"},
};

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "property value out of bounds: %s\n", what);
        std::abort();
    }
}

bool isSurrogate(char16_t unit, char16_t first)
{
    return unit >= first && unit < first + 0x400;
}

// Paired surrogates only: every text comes from well-formed UTF-8 or from
// single bytes.
bool isWellFormed(const std::u16string& text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isSurrogate(text[i], 0xDC00))
            return false;
        if (isSurrogate(text[i], 0xD800)) {
            if (i + 1 == text.size() || !isSurrogate(text[i + 1], 0xDC00))
                return false;
            ++i;
        }
    }
    return true;
}

void checkText(const std::u16string& text, std::size_t limit, bool latin1)
{
    check(!text.empty(), "an empty text");
    check(text.size() <= limit, "a text longer than the limit");
    check(text.find(u'\0') == std::u16string::npos, "a text holding a NUL");
    check(isWellFormed(text), "a text with an unpaired surrogate");
    if (latin1) {
        for (const char16_t unit : text)
            check(unit < 0x100, "ID3v1 text beyond Latin-1");
    }
}

void checkFormat(const Summary& summary, const ape::ApeContainer& container, std::uint64_t fileSize)
{
    const std::uint32_t rate = container.sampleRate;
    check(summary.sampleRate() == rate && summary.channels() == std::uint32_t(container.channels) &&
              summary.bitsPerSample() == std::uint32_t(container.bitsPerSample),
          "the format differs from the header");
    check(rate > 0 && container.totalBlocks > 0, "a summary of a file without audio");
    // Within half a unit of the header's blocks over its rate.
    const Wide stated = Wide(container.totalBlocks) * Summary::unitsPerSecond;
    const Wide shown = Wide(summary.duration()) * rate;
    check((shown > stated ? shown - stated : stated - shown) * 2 <= rate, "the duration differs from the header's");
    // Within a bit a second of the file's bits over its length, unless capped.
    if (summary.bitrate() != std::numeric_limits<std::uint32_t>::max()) {
        const Wide bits = Wide(fileSize) * 8 * rate;
        const Wide given = Wide(summary.bitrate()) * container.totalBlocks;
        check((given > bits ? given - bits : bits - given) <= container.totalBlocks,
              "the bitrate differs from the file's size over its length");
    }
}

void checkTagValues(const Summary& summary, const ape::ApeTag& tag)
{
    const bool latin1 = tag.kind() == ape::ApeTag::Kind::id3v1;
    int previous = -1;
    for (const Summary::TagValue& tagValue : summary.tagValues()) {
        const int field = static_cast<int>(tagValue.field);
        check(field > previous && field < int(std::size(fieldItemKeys)), "fields out of order or repeated");
        previous = field;
        const char* const* keys = fieldItemKeys[field];
        check(tag.find(keys[0]) || (keys[1] && tag.find(keys[1])), "a value without its tag item");
        const Summary::Value& value = tagValue.value;
        switch (Summary::formOf(tagValue.field)) {
        case Summary::Form::number:
            check(std::holds_alternative<std::uint32_t>(value) && std::get<std::uint32_t>(value) != 0,
                  "a number field without a number");
            break;
        case Summary::Form::text:
            check(std::holds_alternative<Summary::Text>(value), "a text field without a text");
            // Joined values: each NUL byte became "; ".
            checkText(std::get<Summary::Text>(value), Summary::textValueLimit * 3 / 2, latin1);
            break;
        case Summary::Form::strings:
            check(std::holds_alternative<Summary::Texts>(value) && !std::get<Summary::Texts>(value).empty(),
                  "a list field without a list");
            for (const Summary::Text& text : std::get<Summary::Texts>(value))
                checkText(text, Summary::textValueLimit, latin1);
            break;
        }
    }
}

std::string encodeUtf8(const std::u16string& text)
{
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t cp = text[i];
        if (isSurrogate(text[i], 0xD800) && i + 1 < text.size())
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (cp < 0x80) {
            bytes += char(cp);
        } else if (cp < 0x800) {
            bytes += char(0xC0 | cp >> 6);
            bytes += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            bytes += char(0xE0 | cp >> 12);
            bytes += char(0x80 | (cp >> 6 & 0x3F));
            bytes += char(0x80 | (cp & 0x3F));
        } else {
            bytes += char(0xF0 | cp >> 18);
            bytes += char(0x80 | (cp >> 12 & 0x3F));
            bytes += char(0x80 | (cp >> 6 & 0x3F));
            bytes += char(0x80 | (cp & 0x3F));
        }
    }
    return bytes;
}

void checkUtf8(std::string_view bytes)
{
    const std::optional<std::u16string> text = ape::decodeUtf8(bytes);
    check(text.has_value() == ape::isValidUtf8(bytes), "decoding and validation disagree");
    if (text) {
        check(isWellFormed(*text), "decoded UTF-8 with an unpaired surrogate");
        check(encodeUtf8(*text) == bytes, "decoded UTF-8 does not encode back to its bytes");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    checkUtf8(std::string_view(reinterpret_cast<const char*>(data), size));

    ape::MemoryByteSource source(data, size);
    std::optional<Summary> summary;
    try {
        summary.emplace(source);
    } catch (const ape::CodecError&) {
        return 0;
    }
    // What the summary accepted, the container accepts as well.
    const ape::ApeContainer container = ape::ApeContainer::open(source);
    checkFormat(*summary, container, size);
    checkTagValues(*summary, container.tag);
    return 0;
}
